// The main demo: the road of a typical edit on the order form, then one page
// of the order list in German and in English.
//
//   kvhost examples/pages/demo.js          (the demo database is made on first use)
//
// The edit: bind a record pump to the order edit form, read an order with
// its option texts in both languages, change it and save it, add a new order
// with a German and an English title, read both back. The paged read: count
// the orders, open them sorted by number and walk the first page. At the
// end the new order is deleted again, so the demo can be run any number of
// times.

var ORDER_EDIT_FORM = 100;
var GERMAN = 1031, ENGLISH = 1033;
var PAGE_SIZE = 3;

function line(text) { Response.Write(text + "\n"); }

// One order as the edit form shows it.
function showOrder(pump, heading, id) {
  pump.MoveTo(id);
  line(heading + " order " + id +
       ": no=" + pump.ValueByFieldName("strno", "?") +
       " color=" + pump.ValueByFieldName("strcolor", "") +
       " (de: " + pump.ValueByFieldNameEx("strcolor", "", GERMAN) +
       ", en: " + pump.ValueByFieldNameEx("strcolor", "", ENGLISH) + ")" +
       " state=" + pump.ValueByFieldNameEx("strstate", "", ENGLISH) +
       " amount=" + pump.ValueByFieldName("lamount", 0) +
       " title de=\"" + pump.ValueByFieldNameEx("strtitle", "", GERMAN) + "\"" +
       " en=\"" + pump.ValueByFieldNameEx("strtitle", "", ENGLISH) + "\"");
}

// --- the typical edit ---
var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, ORDER_EDIT_FORM);
showOrder(pump, "read ", 1);

// The user raises the amount and switches the state between open (2) and closed (7).
pump.MoveTo(1);
var amount = pump.ValueByFieldName("lamount", 0);
var closed = pump.CompareByFieldName("strstate", "7", true, false);
pump.CleanFieldValues();
pump.SetFieldValue("lid", 1);
pump.SetFieldValue("lamount", amount + 1);
pump.SetFieldValue("strstate", closed ? "2" : "7");
pump.SetFieldValue("dtedit", new Date());
pump.SetFieldValueEx("strtitle", ENGLISH, "First order, edited");
var savedId = pump.SaveFieldValues();
showOrder(pump, "saved", savedId);

// A new order: no lid, so the save picks the next free one.
pump.CleanFieldValues();
pump.SetFieldValue("strno", "C1");
pump.SetFieldValue("strcolor", "blue|red");
pump.SetFieldValue("strstate", "2");
pump.SetFieldValue("lamount", 5);
pump.SetFieldValue("dblprice", 9.75);
pump.SetFieldValue("lownerid", -1);
pump.SetFieldValue("lparentid", 0);
pump.SetFieldValue("dtedit", new Date());
pump.SetFieldValue("luserid", 1);
pump.SetFieldValueEx("strtitle", GERMAN, "Neue Bestellung");
pump.SetFieldValueEx("strtitle", ENGLISH, "New order");
var newId = pump.SaveFieldValues();
showOrder(pump, "added", newId);

// --- one page of the order list, in two languages ---
var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
var languages = [["de", GERMAN], ["en", ENGLISH]];
for (var l = 0; l < languages.length; l++) {
  var total = list.Init(Session, "SELECT lid, strno, strcolor, strstate, lamount FROM krorder",
                        "ORDER BY strno", 0, false);
  line("paged (" + languages[l][0] + "): " + total + " orders, page 1 of " +
       Math.ceil(total / PAGE_SIZE) + ":");
  for (var row = 0; row < PAGE_SIZE && !list.IsEOF; row++) {
    line("  " + list.Value("strno") + " (lid " + list.Value("lid") + "): " +
         list.ValueEx("strcolor", languages[l][1]) + ", " +
         list.ValueEx("strstate", languages[l][1]) + ", amount " + list.Value("lamount"));
    list.MoveNext();
  }
  list.Close();
}

// Leave the demo as it was found: the new order and its language rows go.
pump.MoveTo(newId);
pump.Delete();
line("deleted order " + newId + ": no=\"" + pump.ValueByFieldName("strno", "") + "\"");
