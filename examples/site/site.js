// Forms that ask before they are sent carry their question in
// data-confirm. Kept out of the pages: the site's content security policy
// runs no inline script.
'use strict';
document.addEventListener('submit', function (event) {
  var question = event.target.getAttribute('data-confirm');
  if (question && !window.confirm(question)) event.preventDefault();
});
