// Asks before a form marked data-confirm is sent (the delete button). Kept
// out of the pages, so that they need no inline script.
document.addEventListener('submit', (event) => {
  const form = event.target;
  const question = form.getAttribute('data-confirm');
  if (question && !window.confirm(question)) event.preventDefault();
});
