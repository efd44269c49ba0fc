// A cascade delete: an order with two lines, a note below a line, language
// rows on both levels and a stored file goes in one call, bottom-up.
//
//   kvhost examples/pages/cascade-delete.js

var ORDER_FORM = 100, LINE_FORM = 102, NOTE_FORM = 103;
var GERMAN = 1031;

function line(text) { Response.Write(text + "\n"); }

// Counts rows with a query cursor.
var counter = Server.CreateObject("KvHtmlDbTools.KvDataPump");
function count(table, where) {
  counter.QueryInit(Session, "SELECT COUNT(*) AS n FROM " + table + " WHERE " + where);
  var n = counter.Value("n");
  counter.CloseQuery();
  return n;
}

function save(form, values, languageValues) {
  var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
  pump.Init(Session, form);
  for (var name in values) pump.SetFieldValue(name, values[name]);
  for (var lang in languageValues || {})
    pump.SetFieldValueEx(languageValues[lang][0], +lang, languageValues[lang][1]);
  return pump.SaveFieldValues();
}

// Build the tree to delete.
var order = save(ORDER_FORM, { strno: "D1", strcolor: "red", strstate: "2", lamount: 1, lparentid: 0,
                               lownerid: -1, luserid: 1, dtedit: new Date() },
                 { 1031: ["strtitle", "Wird gelöscht"] });
var line1 = save(LINE_FORM, { lparentid: order, strname: "lamp", lqty: 2, luserid: 1, dtedit: new Date() },
                 { 1031: ["strtext", "Lampe"] });
var line2 = save(LINE_FORM, { lparentid: order, strname: "bulb", lqty: 6, luserid: 1, dtedit: new Date() });
save(NOTE_FORM, { lparentid: line1, strnote: "fragile", luserid: 1, dtedit: new Date() });

function report(when) {
  line(when + ": order " + count("krorder", "lid=" + order) +
       ", its language rows " + count("krorder_l", "lparentid=" + order) +
       ", lines " + count("krorderline", "lparentid=" + order) +
       ", line language rows " + count("krorderline_l", "lparentid IN (" + line1 + "," + line2 + ")") +
       ", notes " + count("krlinenote", "lparentid IN (" + line1 + "," + line2 + ")"));
}
report("before");

var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, ORDER_FORM);
pump.MoveTo(order);
try {
  // Without the kill-children flag nothing may go; asking for the internal
  // hierarchy without it is refused outright.
  pump.CascadeDelete("lid", "lparentid", false, true);
} catch (e) {
  line("refused: " + e.message + " (number " + e.number + ")");
}
pump.CascadeDelete("lid", "lparentid", true, false);
report("after ");
