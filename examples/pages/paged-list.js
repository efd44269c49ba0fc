// The order list, page by page, in German and in English: the paged result
// pump counts the query, opens it sorted and skips to each page's first row.
//
//   kvhost examples/pages/paged-list.js

var PAGE_SIZE = 10;
var QUERY = "SELECT krorder.lid, krorder.strno, krorder.strcolor, krorder.strstate, krorder.dblprice " +
            "FROM krorder";
var LANGUAGES = [["Deutsch", 1031], ["English", 1033]];

function line(text) { Response.Write(text + "\n"); }

var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
for (var l = 0; l < LANGUAGES.length; l++) {
  var lcid = LANGUAGES[l][1];
  var total = list.Init(Session, QUERY, "ORDER BY strno DESC", 0, false);
  var pages = Math.ceil(total / PAGE_SIZE);
  line(LANGUAGES[l][0] + ": " + total + " orders on " + pages + " pages");
  for (var page = 0; page < pages; page++) {
    // Each page opens the query anew and starts at its first row.
    list.Init(Session, QUERY, "ORDER BY strno DESC", page * PAGE_SIZE, true);
    var rows = [];
    for (var row = 0; row < PAGE_SIZE && !list.IsEOF; row++) {
      rows.push(list.Value("strno") + " " + list.ValueEx("strcolor", lcid) + "/" +
                list.ValueEx("strstate", lcid) + " " + list.Value("dblprice").toFixed(2));
      list.MoveNext();
    }
    line("  page " + (page + 1) + ": " + rows.join("; "));
  }
  list.Close();
}
