<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/order-input.inc" -->
<%
// One order: shown and edited with a record pump bound to the order edit
// form, titles in both languages, option texts of the visitor's language.
// order.asp?lid=N shows order N, order.asp alone an empty new order; an
// order the signed-in user may not see is not there (404). The form posts
// back here with action save, clone or delete and the stamp of the order
// it showed; a done action redirects, a failed one shows the page again
// with what went wrong, and a stale form (the order changed, deleted or
// replaced since) does nothing.

var USER = requireUser();

function splitValues(text) {
  var values = [];
  var parts = text.split("|");
  for (var i = 0; i < parts.length; i++) if (parts[i] !== "") values.push(parts[i]);
  return values;
}

function boundPump(id) {
  var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
  pump.Init(Session, ORDER_FORM);
  if (id) pump.MoveTo(id);
  return pump;
}

function exists(pump) { return pump.ValueByFieldName("lid", 0) > 0; }

function emptyOrder() {
  return { id: 0, no: "", strcolor: [], strstate: [], amount: "", price: "", date: isoDate(new Date()),
           memo: "", titles: { de: "", en: "" }, translations: null, attachment: "", edited: "", owner: "" };
}

function isoDateTime(value) {
  if (!(value instanceof Date) || isNaN(value.getTime())) return "";
  return isoDate(value) + " " + two(value.getHours()) + ":" + two(value.getMinutes()) + ":" + two(value.getSeconds());
}

// The order as the form shows it, or null when there is none that the
// user may see.
function readOrder(id) {
  if (!canSee(USER, id)) return null;
  var pump = boundPump(id);
  if (!exists(pump)) return null;
  var amount = pump.ValueByFieldName("lamount", null), price = pump.ValueByFieldName("dblprice", null);
  var order = {
    id: id,
    no: requestText(pump.ValueByFieldName("strno", "")),
    strcolor: splitValues(requestText(pump.ValueByFieldName("strcolor", ""))),
    strstate: splitValues(requestText(pump.ValueByFieldName("strstate", ""))),
    amount: amount === null ? "" : String(amount),
    price: price === null ? "" : String(price),
    date: isoDate(pump.ValueByFieldName("dtorder", null)),
    memo: requestText(pump.ValueByFieldName("strmemo", "")),
    titles: {},
    translations: {},
    attachment: "",
    edited: isoDateTime(pump.ValueByFieldName("dtedit", null)),
    owner: String(pump.ValueByFieldName("lownerid", ""))
  };
  for (var code in LANGUAGES) {
    if (!isOwn(LANGUAGES, code)) continue;
    var lcid = LANGUAGES[code].lcid;
    order.titles[code] = requestText(pump.ValueByFieldNameEx("strtitle", "", lcid));
    order.translations[code] = {
      strcolor: optionList(pump.ValueByFieldNameEx("strcolor", "", lcid)),
      strstate: optionList(pump.ValueByFieldNameEx("strstate", "", lcid))
    };
  }
  var upload = pump.ValueByFieldName("lfile", 0);
  if (upload > 0) order.attachment = requestText(pump.GetValueDirect("kruploadfile", upload, "strfilename"));
  return order;
}

// Saves the order (inserted when it has no id, owned by the user who made
// it) and returns its id; 0 when the order to update is gone.
function saveOrder(order) {
  var pump = boundPump(0);
  if (order.id) {
    pump.SetFieldValue("lid", order.id);
  } else {
    pump.SetFieldValue("lownerid", USER.id);
    pump.SetFieldValue("lparentid", 0);
  }
  pump.SetFieldValue("strno", order.no);
  for (var f = 0; f < OPTION_FIELDS.length; f++)
    pump.SetFieldValue(OPTION_FIELDS[f], order[OPTION_FIELDS[f]].join("|"));
  pump.SetFieldValue("lamount", order.amount ? parseInt(order.amount, 10) : null);
  pump.SetFieldValue("dblprice", order.price ? parseFloat(order.price.replace(",", ".")) : null);
  pump.SetFieldValue("dtorder", order.date ? dayOf(order.date) : null);
  pump.SetFieldValue("strmemo", order.memo);
  pump.SetFieldValue("dtedit", new Date());
  pump.SetFieldValue("luserid", USER.id);
  for (var code in LANGUAGES)
    if (isOwn(LANGUAGES, code)) pump.SetFieldValueEx("strtitle", LANGUAGES[code].lcid, order.titles[code]);
  return pump.SaveFieldValues();
}

// A copy of the order with its lines, notes and stored files, under a new
// number and owned by the user who made it; the titles live in the language
// table, which is no child of the orders, so they are carried over here.
// Returns the copy's id.
function cloneOrder(order, limits) {
  var pump = boundPump(order.id);
  if (!exists(pump)) return 0;
  var copy = pump.Clone("", "", true);
  if (!(copy > 0)) return 0;
  pump.CleanFieldValues();
  pump.SetFieldValue("lid", copy);
  pump.SetFieldValue("strno", copyNumber(order.no, copy, limitOf(limits, "strno", 20)));
  pump.SetFieldValue("lownerid", USER.id);
  pump.SetFieldValue("luserid", USER.id);
  pump.SetFieldValue("dtedit", new Date());
  for (var code in order.titles)
    if (isOwn(LANGUAGES, code) && order.titles[code])
      pump.SetFieldValueEx("strtitle", LANGUAGES[code].lcid, order.titles[code]);
  pump.SaveFieldValues();
  return copy;
}

// Deletes the order with everything below it; true when it is gone.
function deleteOrder(id) {
  var pump = boundPump(id);
  if (!exists(pump)) return false;
  pump.CascadeDelete("", "", true, false);
  return !exists(pump);
}

var idText = isPost() ? formValue("lid") : queryValue("lid");
// No id is a new order; an id that is no number names no order.
var id = recordId(idText);
var unknownId = idText !== "" && !id;
var limits = fieldLimits();
var errors = [];
var order = null;
var stored = null;  // the order as it is stored now
var target = "";
if (isPost() && !unknownId) {
  var action = formValue("action");
  // The order the form acted on must still be the one it showed.
  stored = id ? readOrder(id) : null;
  if (id && (!stored || orderStamp(stored) !== formValue("stamp"))) {
    Response.Status = "409 Conflict";
    errors.push(t("stale"));
    order = stored;
    action = "";
  }
  try {
    if (action === "save") {
      order = postedOrder(id, stored, limits);
      errors = order.errors;
      if (errors.length) {
        Response.Status = "422 Unprocessable Content";
      } else {
        var saved = saveOrder(order);
        if (saved > 0) {
          setNotice(t(id ? "saved" : "created", saved));
          target = "order.asp?lid=" + saved;
        } else {
          errors.push(t("notSaved", t("notFound", id)));
        }
      }
    } else if (action === "clone" && stored) {
      var copy = cloneOrder(stored, limits);
      if (copy > 0) {
        setNotice(t("cloned", copy, id));
        target = "order.asp?lid=" + copy;
      } else {
        errors.push(t("notCloned", t("notFound", id)));
      }
    } else if (action === "delete" && stored) {
      if (deleteOrder(id)) {
        setNotice(t("deleted", id));
        target = "./";
      } else {
        errors.push(t("notDeleted", exists(boundPump(id)) ? t("stillThere") : t("notFound", id)));
      }
    }
  } catch (e) {
    errors.push(t(action === "clone" ? "notCloned" : action === "delete" ? "notDeleted" : "notSaved",
                  failureText(e)));
  }
}
// Outside the try: a redirect ends the page.
if (target) Response.Redirect(target);

if (!order && !unknownId) order = stored = id ? readOrder(id) : emptyOrder();
var selfUrl = "order.asp" + (id ? "?lid=" + id : "");
if (!order) {
  if (Response.Status < 400) Response.Status = "404 Not Found";
  pageStart(t("order"), selfUrl, USER);
  errorList(errors.length ? errors : [id ? t("notFound", id) : t("noSuchOrder")]);
  Response.Write('<p><a class="button" href="./">' + h(t("back")) + '</a></p>');
  pageEnd();
  Response.End();
}
// Every form of the page carries the stamp of the order as it is now.
var stamp = stored && stored.id ? orderStamp(stored) : "";

function optionBoxes(field) {
  var options = optionTexts(field, LCID);
  var chosen = order[field];
  var html = "";
  var known = {};
  for (var i = 0; i < options.length; i++) known[options[i].ident] = true;
  for (var k = 0; k < chosen.length; k++)
    if (!known[chosen[k]]) options.push({ ident: chosen[k], text: chosen[k] + " " + t("noText") });
  for (var o = 0; o < options.length; o++) {
    var checked = false;
    for (var c = 0; c < chosen.length; c++) if (chosen[c] === options[o].ident) checked = true;
    html += '<label class="check"><input type="checkbox" name="' + field + '" value="' + h(options[o].ident) + '"' +
            (checked ? ' checked' : '') + '> ' + h(options[o].text) + '</label>';
  }
  return html;
}

// The hidden fields every form of an order carries: the token of the
// session, the order's id and the stamp of the order it shows.
function recordFields() {
  return tokenField() + '\n    <input type="hidden" name="lid" value="' + (order.id || "") + '">' +
         '\n    <input type="hidden" name="stamp" value="' + h(stamp) + '">';
}

pageStart(order.id ? t("order") + " " + order.no : t("newOrder"), selfUrl, USER);
errorList(errors);
%>
<form class="order" method="post" action="order.asp">
  <%= recordFields() %>
  <fieldset>
    <div class="field"><label for="strno"><%= h(t("no")) %></label>
      <input id="strno" name="strno" value="<%= h(order.no) %>" maxlength="<%= limitOf(limits, "strno", 20) %>" required></div>
<% for (var l = 0; l < LANGUAGE_ORDER.length; l++) { var code = LANGUAGE_ORDER[l]; %>
    <div class="field"><label for="title_<%= code %>"><%= h(t("titleIn", t("language_" + code))) %></label>
      <input id="title_<%= code %>" name="title_<%= code %>" lang="<%= code %>" value="<%= h(order.titles[code]) %>" maxlength="<%= limitOf(limits, "strtitle", 200) %>"></div>
<% } %>
    <div class="field"><span class="label"><%= h(t("colour")) %></span>
      <div class="checks"><%= optionBoxes("strcolor") %></div></div>
    <div class="field"><span class="label"><%= h(t("state")) %></span>
      <div class="checks"><%= optionBoxes("strstate") %></div></div>
    <div class="field short"><label for="lamount"><%= h(t("amount")) %></label>
      <input id="lamount" name="lamount" inputmode="numeric" value="<%= h(order.amount) %>"></div>
    <div class="field short"><label for="dblprice"><%= h(t("price")) %></label>
      <input id="dblprice" name="dblprice" inputmode="decimal" value="<%= h(order.price) %>"></div>
    <div class="field short"><label for="dtorder"><%= h(t("orderDate")) %></label>
      <input id="dtorder" name="dtorder" type="date" value="<%= h(order.date) %>"></div>
    <div class="field wide"><label for="strmemo"><%= h(t("memo")) %></label>
      <textarea id="strmemo" name="strmemo" rows="3" maxlength="<%= limitOf(limits, "strmemo", 10000) %>"><%= h(order.memo) %></textarea></div>
  </fieldset>
  <div class="actions">
    <button class="button primary" type="submit" name="action" value="save"><%= h(t("save")) %></button>
    <a class="button" href="./"><%= h(t("back")) %></a>
  </div>
</form>
<% if (order.id) { %>
<div class="record-actions">
  <form method="post" action="order.asp">
    <%= recordFields() %>
    <button class="button" type="submit" name="action" value="clone"><%= h(t("clone")) %></button>
  </form>
  <form method="post" action="order.asp" data-confirm="<%= h(t("confirmDelete", order.no)) %>">
    <%= recordFields() %>
    <button class="button danger" type="submit" name="action" value="delete"><%= h(t("remove")) %></button>
  </form>
</div>
<%   if (order.translations) { %>
<section class="panel">
  <h2><%= h(t("inBothLanguages")) %></h2>
  <table class="facts">
    <thead><tr><th></th><% for (var l2 = 0; l2 < LANGUAGE_ORDER.length; l2++) { %><th lang="<%= LANGUAGE_ORDER[l2] %>"><%= h(t("language_" + LANGUAGE_ORDER[l2])) %></th><% } %></tr></thead>
    <tbody>
<%     var facts = [["title", null], ["colour", "strcolor"], ["state", "strstate"]];
       for (var f = 0; f < facts.length; f++) { %>
      <tr><th scope="row"><%= h(t(facts[f][0])) %></th>
<%       for (var l3 = 0; l3 < LANGUAGE_ORDER.length; l3++) {
           var lang = LANGUAGE_ORDER[l3];
           var text = facts[f][1] ? order.translations[lang][facts[f][1]] : order.titles[lang]; %>
        <td lang="<%= lang %>" data-fact="<%= facts[f][0] %>-<%= lang %>"><%= h(text) %></td>
<%       } %>
      </tr>
<%     } %>
    </tbody>
  </table>
<%     if (order.attachment) { %>
  <p><%= h(t("attachment")) %>: <span class="file"><%= h(order.attachment) %></span></p>
<%     } %>
</section>
<%   } %>
<section class="panel">
  <h2><%= h(t("lines")) %></h2>
<%
  var cursor = Server.CreateObject("KvHtmlDbTools.KvDataPump");
  cursor.QueryInit(Session, "SELECT lid, strname, lqty FROM krorderline WHERE lparentid=" + order.id + " ORDER BY lid");
  if (cursor.IsEOF) { %>
  <p class="muted"><%= h(t("noLines")) %></p>
<% } else { %>
  <table class="lines">
    <thead><tr><th scope="col"><%= h(t("article")) %></th><th scope="col" class="num"><%= h(t("quantity")) %></th></tr></thead>
    <tbody>
<%   for (; !cursor.IsEOF; cursor.MoveNext()) { %>
      <tr><td><%= h(cursor.Value("strname")) %></td><td class="num"><%= h(cursor.Value("lqty")) %></td></tr>
<%   } %>
    </tbody>
  </table>
<% }
  cursor.CloseQuery(); %>
</section>
<% }
pageEnd(); %>
