<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<%
// Signing in and out. The name names a row of kruser; the password is
// checked against the stored hash, and only then does the session act as
// that user. A wrong name and a wrong password get the same answer, and
// take as long: an unknown name is checked against a hash of no one's.
// Signing out ends the whole session.

// Names are plain: anything else is no name of ours and never reaches SQL.
function isUserName(text) { return /^[a-z0-9._-]{1,40}$/.test(text); }

// The id and stored hash of the user of that name, or null.
function storedUser(name) {
  var cursor = Server.CreateObject("KvHtmlDbTools.KvDataPump");
  cursor.QueryInit(Session, "SELECT lid, strfullname, strpasswordhash FROM kruser WHERE strname='" + name + "'");
  var user = cursor.IsEOF ? null : { id: Number(cursor.Value("lid")), fullName: requestText(cursor.Value("strfullname")),
                                     hash: requestText(cursor.Value("strpasswordhash")) };
  cursor.CloseQuery();
  return user;
}

// A hash no password is known for, made once.
function nobodysHash() {
  var hash = requestText(Application("signin.nobody"));
  if (!hash) {
    hash = Server.HashPassword("no one's password " + Math.random());
    Application("signin.nobody", hash);
  }
  return hash;
}

var errors = [];
var name = "";
if (isPost()) {
  if (formValue("action") === "signout") {
    Session.SignOut();
    Session.Abandon();
    Response.Redirect("signin.asp");
  }
  name = formValue("name").replace(/^\s+|\s+$/g, "").toLowerCase();
  var password = formValue("password");
  var user = null, usersThere = true;
  try {
    user = isUserName(name) ? storedUser(name) : null;
  } catch (e) {
    // A database made before the order desk had users has no kruser.
    usersThere = false;
  }
  var matches = Server.VerifyPassword(password, user ? user.hash : nobodysHash());
  if (user && matches) {
    Session.SignIn(user.id);
    setNotice(t("signedIn", user.fullName || name));
    Response.Redirect("./");
  }
  Response.Status = "403 Forbidden";
  errors.push(usersThere ? t("badSignIn") : t("noUsers"));
} else if (signedInUser()) {
  Response.Redirect("./");
}

pageStart(t("signIn"), "signin.asp", null);
errorList(errors);
%>
<form class="signin" method="post" action="signin.asp">
  <%= tokenField() %>
  <div class="field"><label for="name"><%= h(t("userName")) %></label>
    <input id="name" name="name" value="<%= h(name) %>" maxlength="40" autocomplete="username" required autofocus></div>
  <div class="field"><label for="password"><%= h(t("password")) %></label>
    <input id="password" name="password" type="password" autocomplete="current-password" required></div>
  <div class="actions">
    <button class="button primary" type="submit" name="action" value="signin"><%= h(t("signIn")) %></button>
  </div>
</form>
<% pageEnd(); %>
