<%@ Language="JScript" %>
<% var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
   var total = list.Init(Session, "SELECT lid, strno, lamount FROM krorder", "ORDER BY strno, lid", 0, false);
   for (var row = 0; row < 20 && !list.IsEOF; row++) { %><%= list.Value("lid") %> <%= list.Value("strno") %> <%= list.Value("lamount") %>
<% list.MoveNext(); }
   list.Close(); %>of <%= total %>
