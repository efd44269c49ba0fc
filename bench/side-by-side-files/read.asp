<%@ Language="JScript" %>
<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
   pump.Init(Session, 100);
   pump.MoveTo(1); %>
<p><%= pump.ValueByFieldName("strno", "") %> <%= pump.ValueByFieldName("strcolor", "") %>
<%= pump.ValueByFieldName("strstate", "") %> <%= pump.ValueByFieldName("lamount", 0) %>
<%= pump.ValueByFieldName("dblprice", 0) %> <%= pump.ValueByFieldNameEx("strcolor", "", 1031) %></p>
