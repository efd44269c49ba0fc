<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<%
// The order list: ten orders a page, sorted by the column whose header was
// clicked, with titles and option texts in the visitor's language. Sort
// column, direction and page are kept in the session, so that coming back
// from an order shows the same page. The list holds the orders the signed-in
// user may see.

var USER = requireUser();

// Column, its sort expression and whether its header sorts.
var COLUMNS = [
  { field: "lid", label: "#", numeric: true },
  { field: "strno", label: t("no") },
  { field: "strtitle", label: t("title") },
  { field: "strcolor", label: t("colour") },
  { field: "strstate", label: t("state") },
  { field: "lamount", label: t("amount"), numeric: true },
  { field: "dblprice", label: t("price"), numeric: true },
  { field: "dtorder", label: t("orderDate") }
];

function isColumn(name) {
  for (var i = 0; i < COLUMNS.length; i++) if (COLUMNS[i].field === name) return true;
  return false;
}

// What the request asks for, falling back on what the session kept.
function listState() {
  var state = {
    sort: requestText(Session("list.sort")) || "strno",
    dir: requestText(Session("list.dir")) || "asc",
    page: recordId(requestText(Session("list.page"))) || 1
  };
  var sort = queryValue("sort"), dir = queryValue("dir"), page = recordId(queryValue("page"));
  if (isColumn(sort)) {
    // A new sort starts on the first page.
    if (sort !== state.sort || (dir && dir !== state.dir)) state.page = 1;
    state.sort = sort;
    state.dir = dir === "desc" ? "desc" : "asc";
  }
  if (page) state.page = page;
  if (!isColumn(state.sort)) state.sort = "strno";
  if (state.dir !== "desc") state.dir = "asc";
  return state;
}

function saveListState(state) {
  Session("list.sort", state.sort);
  Session("list.dir", state.dir);
  Session("list.page", String(state.page));
}

// The orders the user may see, with the title of the visitor's language
// joined from the language table.
function orderQuery() {
  var fields = [];
  for (var i = 0; i < COLUMNS.length; i++) fields.push(COLUMNS[i].field);
  return visibleOrdersSql(USER, fields, "");
}

// A stored state as a class name: only plain option values become one.
function stateClass(value) {
  return /^[A-Za-z0-9]{1,20}$/.test(value) ? " state-" + value : "";
}

function headerCell(column, state) {
  var current = column.field === state.sort;
  var dir = current && state.dir === "asc" ? "desc" : "asc";
  var mark = current ? (state.dir === "asc" ? " ▲" : " ▼") : "";
  return '<th scope="col"' + (column.numeric ? ' class="num"' : '') +
         (current ? ' aria-sort="' + (state.dir === "asc" ? "ascending" : "descending") + '"' : '') +
         '><a href="?sort=' + column.field + '&amp;dir=' + dir + '" data-sort="' + column.field + '">' +
         h(column.label) + mark + '</a></th>';
}

function pageLinks(state, pages) {
  if (pages <= 1) return "";
  var html = '<nav class="pages" aria-label="' + h(t("pageOf", state.page, pages)) + '">';
  html += state.page > 1 ? '<a href="?page=' + (state.page - 1) + '" rel="prev">' + h(t("previous")) + '</a>'
                         : '<span class="disabled">' + h(t("previous")) + '</span>';
  for (var p = 1; p <= pages; p++) {
    html += p === state.page ? '<span class="current" aria-current="page">' + p + '</span>'
                             : '<a href="?page=' + p + '" data-page="' + p + '">' + p + '</a>';
  }
  html += state.page < pages ? '<a href="?page=' + (state.page + 1) + '" rel="next">' + h(t("next")) + '</a>'
                             : '<span class="disabled">' + h(t("next")) + '</span>';
  return html + '</nav>';
}

var state = listState();
var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
var query = orderQuery();
// Ties in the sort column keep one order across pages by their id.
var sorter = "ORDER BY " + state.sort + " " + state.dir.toUpperCase() + (state.sort === "lid" ? "" : ", lid");
var total = list.Init(Session, query, sorter, 0, false);
var pages = Math.max(1, Math.ceil(total / PAGE_SIZE));
if (state.page > pages) state.page = pages;
if (state.page > 1) list.Init(Session, query, sorter, (state.page - 1) * PAGE_SIZE, true);
saveListState(state);

pageStart(t("orders"), "./", USER);
%>
<div class="toolbar">
  <p class="summary"><%= h(t("count", total)) %> · <%= h(t("pageOf", state.page, pages)) %></p>
  <a class="button primary" href="order.asp"><%= h(t("newOrder")) %></a>
</div>
<% if (total <= 0) { %>
<p class="empty"><%= h(t("emptyList")) %></p>
<% } else { %>
<table class="orders">
<thead><tr>
<% for (var c = 0; c < COLUMNS.length; c++) Response.Write(headerCell(COLUMNS[c], state)); %>
</tr></thead>
<tbody>
<%
  for (var row = 0; row < PAGE_SIZE && !list.IsEOF; row++, list.MoveNext()) {
    var lid = list.Value("lid");
    var title = requestText(list.Value("strtitle"));
    var stateValue = requestText(list.Value("strstate"));
%>
<tr data-lid="<%= lid %>">
  <td class="num"><%= lid %></td>
  <td><a href="order.asp?lid=<%= lid %>"><%= h(list.Value("strno")) %></a></td>
  <td class="title"><%= title ? h(title) : '<span class="muted">' + h(t("noTitle")) + '</span>' %></td>
  <td><%= h(optionList(list.ValueEx("strcolor", LCID))) %></td>
  <td><span class="badge<%= stateClass(stateValue.split("|")[0]) %>"><%= h(optionList(list.ValueEx("strstate", LCID))) %></span></td>
  <td class="num"><%= h(list.Value("lamount")) %></td>
  <td class="num"><%= h(formatNumber(list.Value("dblprice"), 2)) %></td>
  <td><%= h(formatDate(list.Value("dtorder"))) %></td>
</tr>
<% } %>
</tbody>
</table>
<%= pageLinks(state, pages) %>
<% }
list.Close();
pageEnd(); %>
