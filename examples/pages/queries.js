// Reading without a form: an ad-hoc query cursor with translated option
// texts, direct value lookups, and join SQL built for one language.
//
//   kvhost examples/pages/queries.js

var GERMAN = 1031, ENGLISH = 1033;
var ORDERS_PACK = 10;

function line(text) { Response.Write(text + "\n"); }

var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");

// The query cursor: the option texts of the queried tables come along.
pump.QueryInit(Session, "SELECT lid, strno, strcolor, strstate FROM krorder WHERE lid <= 3 ORDER BY lid");
for (var id = pump.MoveFirst(); !pump.IsEOF; pump.MoveNext()) {
  line("cursor: " + pump.Value("strno") + " colour " + pump.ValueEx("strcolor", GERMAN) +
       " / " + pump.ValueEx("strcolor", ENGLISH) + ", state " + pump.ValueEx("strstate", ENGLISH));
}
line("cursor: last row has lid " + pump.MoveLast());
pump.CloseQuery();

// Direct lookups in any table; the Ex form reads language-dependent fields
// from the language table.
line("lookup: order 2 is " + pump.GetValueDirect("krorder", 2, "strno") +
     ", its English title \"" + pump.GetValueDirectEx("krorder", 2, "strtitle", ENGLISH) + "\"" +
     ", order 1's German title \"" + pump.GetValueDirectEx("krorder", 1, "strtitle", GERMAN) + "\"");

// Join SQL for the orders with their German titles, restricted to what the
// session's user may see.
var select = pump.GetSQLJoinSelect(ORDERS_PACK, GERMAN, true, ["lid", "strno", "strtitle"]);
var where = pump.GetSQLJoinWhere(ORDERS_PACK, "krorder.lid <= 2", GERMAN);
line("join: " + select);
line("join: WHERE " + where);
pump.QueryInit(Session, select + " WHERE " + where + " ORDER BY lid");
for (; !pump.IsEOF; pump.MoveNext())
  line("join: " + pump.Value("strno") + " \"" + pump.Value("strtitle") + "\"");
pump.CloseQuery();
