// Cloning an order with its lines, notes and its stored file: the copy gets
// new ids at every level and a copy of the file under a new name. At the end
// the copy is removed with a cascade delete, stored file included.
//
//   kvhost examples/pages/clone-with-files.js

var ORDER_FORM = 100;
var SOURCE = 1;

function line(text) { Response.Write(text + "\n"); }

var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, ORDER_FORM);

function describe(id) {
  pump.MoveTo(id);
  var upload = pump.ValueByFieldName("lfile", 0);
  var url = upload > 0 ? pump.GetValueDirect("kruploadfile", upload, "strurl") : "(none)";
  var lines = [];
  var cursor = Server.CreateObject("KvHtmlDbTools.KvDataPump");
  cursor.QueryInit(Session, "SELECT lid, strname, lqty FROM krorderline WHERE lparentid=" + id +
                   " ORDER BY lid");
  while (!cursor.IsEOF) {
    lines.push(cursor.Value("strname") + " x" + cursor.Value("lqty") + " (lid " + cursor.Value("lid") + ")");
    cursor.MoveNext();
  }
  cursor.CloseQuery();
  return "order " + id + " no=" + pump.ValueByFieldName("strno", "") + ", file " + upload + " at " + url +
         ", lines: " + (lines.length ? lines.join(", ") : "none");
}

line("source: " + describe(SOURCE));
pump.MoveTo(SOURCE);
var copy = pump.Clone("", "", true);
line("clone:  " + describe(copy));

pump.MoveTo(copy);
pump.CascadeDelete("", "", true, false);
line("removed the clone: " + (pump.GetValueDirect("krorder", copy, "lid") === "" ? "gone" : "still there"));
