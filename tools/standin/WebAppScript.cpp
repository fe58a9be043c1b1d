// The web app's own script and style: what the service's page does, in small.

namespace Standin {

extern const char *const webAppScript;
extern const char *const webAppStyle;

const char *const webAppScript = R"JS((function () {
  'use strict';
  var body = document.body;
  var kind = body.dataset.page;
  var handlers = window.webkit && window.webkit.messageHandlers;
  function post(message) {
    if (handlers && handlers.zephyl) handlers.zephyl.postMessage(message);
  }
  function rect(el) {
    if (!el) return undefined;
    var r = el.getBoundingClientRect();
    return { x: r.left, y: r.top, w: r.width, h: r.height };
  }
  function $(id) { return document.getElementById(id); }
  // A hook for scripts driving the page from outside.
  window.standin = { post: post, kind: kind, bridgeAtStart: document.documentElement.dataset.bridgeAtStart };

  if (kind === 'signin') {
    post({ type: 'session', signedIn: false, path: location.pathname });
    $('signin').addEventListener('submit', function (event) {
      event.preventDefault();
      var form = event.target;
      fetch('/web/session', {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, credentials: 'same-origin',
        body: JSON.stringify({ email: form.email.value, password: form.password.value })
      }).then(function (response) {
        if (!response.ok) { $('error').textContent = 'That e-mail and password do not match.'; return; }
        var target = new URLSearchParams(location.search).get('return_to') || '/instagram';
        location.assign(target.charAt(0) === '/' ? target : '/instagram');
      });
    });
  }

  if (kind === 'foreign') {
    var intruder = { type: 'session', signedIn: true, path: '/instagram', email: 'intruder@example.net', displayName: 'Intruder' };
    post(intruder);
    post({ type: 'state', view: 'intruded', composer: 'open', theme: 'dark' });
    // Straight to the bridge too, without the handler.
    try { var x = new XMLHttpRequest(); x.open('GET', 'zephyl-bridge:message?m=' + encodeURIComponent(JSON.stringify(intruder))); x.send(); } catch (e) {}
    window.standin.posted = true;
  }

  if (kind === 'connect') {
    $('allow').addEventListener('click', function () { window.close(); });
    $('close').addEventListener('click', function () { window.close(); });
  }

  if (kind !== 'workspace') return;

  var account = null, view = 'overview', composer = 'closed';
  var texts = { overview: 'The week at a glance.', planner: 'Drafts and dates.', assistant: 'Ask about the plan.',
                studio: 'The grid, drafts first.', profile: 'Connection and settings.' };
  function state() { post({ type: 'state', view: view, composer: composer, theme: 'light', lang: document.documentElement.lang || 'en' }); }
  function session() {
    post({ type: 'session', signedIn: !!account, path: location.pathname,
           email: account ? account.email : '', displayName: account ? (account.displayName || '') : '' });
  }

  fetch('/api/v1/me', { credentials: 'same-origin', headers: { Accept: 'application/json' } })
    .then(function (response) { return response.ok ? response.json() : null; })
    .then(function (answer) {
      if (!answer || !answer.user) {
        post({ type: 'session', signedIn: false, path: location.pathname });
        location.replace('/signin?return_to=%2Finstagram');
        return;
      }
      account = answer.user;
      $('who').textContent = account.email;
      session();
      state();
    });

  document.querySelectorAll('[data-navfor]').forEach(function (link) {
    link.addEventListener('click', function (event) {
      event.preventDefault();
      view = link.dataset.navfor;
      $('view-title').textContent = link.textContent;
      $('view-text').textContent = texts[view] || '';
      document.querySelectorAll('[data-navfor]').forEach(function (l) { l.classList.toggle('current', l === link); });
      history.replaceState(null, '', '/instagram#' + view);
      state();
      if (view === 'assistant') post({ type: 'scene', name: 'assistant-open', from: rect(link), target: rect($('chat')) });
    });
  });

  var wrap = $('sheet-wrap');
  function openComposer(from) {
    wrap.hidden = false;
    composer = 'open';
    state();
    post({ type: 'scene', name: 'composer-open', from: rect(from), sheet: rect($('sheet')) });
    $('caption').focus();
  }
  function closeComposer(outcome) {
    if (wrap.hidden) return;
    post({ type: 'scene', name: 'composer-close', outcome: outcome, plan: rect(document.querySelector('[data-navfor="planner"]')), sheet: rect($('sheet')) });
    wrap.hidden = true;
    composer = 'closed';
    state();
  }
  $('new-post').addEventListener('click', function (e) { openComposer(e.target); });
  $('plan-add').addEventListener('click', function (e) { openComposer(e.target); });
  wrap.addEventListener('click', function (event) { if (event.target === wrap) closeComposer('cancelled'); });
  document.querySelectorAll('[data-outcome]').forEach(function (button) {
    button.addEventListener('click', function () {
      var outcome = button.dataset.outcome;
      if (outcome === 'published' || outcome === 'scheduled') {
        var id = 'pub-' + Date.now();
        post({ type: 'publication', id: id, status: 'processing' });
        setTimeout(function () {
          post(outcome === 'published'
            ? { type: 'publication', id: id, status: 'published', platformUrl: 'https://www.instagram.com/p/standin/' }
            : { type: 'publication', id: id, status: 'scheduled', scheduledAt: new Date(Date.now() + 86400000).toISOString() });
        }, 800);
      }
      closeComposer(outcome);
    });
  });

  $('focus-button').addEventListener('click', function () { post({ type: 'focus' }); });
  $('signout').addEventListener('click', function () {
    fetch('/web/signout', { method: 'POST', credentials: 'same-origin' }).then(function () {
      account = null;
      session();
      location.assign('/signin?return_to=%2Finstagram');
    });
  });
  $('connect').addEventListener('click', function () { window.open('/api/instagram/connect?fresh=1', 'connect', 'width=480,height=600'); });

  var samples = {
    session: function () { return { type: 'session', signedIn: !!account, path: '/instagram', email: account ? account.email : '', displayName: account ? (account.displayName || '') : '' }; },
    state: function () { return { type: 'state', view: view, composer: composer, theme: 'dark', lang: 'en' }; },
    focus: function () { return { type: 'focus' }; },
    scene: function () { return { type: 'scene', name: 'assistant-open', from: rect($('focus-button')), target: rect($('chat')) }; },
    mood: function () { return { type: 'mood', look: 'happy' }; },
    publication: function () { return { type: 'publication', id: 'sample', status: 'published', platformUrl: 'https://www.instagram.com/p/sample/' }; },
    malformed: function () { return { type: 'publication', id: '', status: 7, platformUrl: 12 }; }
  };
  document.querySelectorAll('[data-post]').forEach(function (button) {
    button.addEventListener('click', function () { post(samples[button.dataset.post]()); });
  });

  // What the application tells the page.
  window.addEventListener('zephylmac:focus', function (event) {
    var f = event.detail || {};
    $('focus-state').textContent = f.active ? (f.label + ' ' + (f.display || '') + (f.paused ? ' ‖' : '')) : f.label || 'Focus';
  });
  window.addEventListener('zephylmac:calm', function (event) { $('calm').textContent = event.detail && event.detail.calm ? 'yes' : 'no'; });
  window.addEventListener('zephylmac:pulse', function (event) { $('pulse').textContent = (event.detail && event.detail.name) || ''; });
  window.addEventListener('zephylmac:save-chat-draft', function () {
    try { localStorage.setItem('chat-draft', $('chat').value); } catch (e) {}
  });
  try { $('chat').value = localStorage.getItem('chat-draft') || ''; } catch (e) {}
})();
)JS";

const char *const webAppStyle = R"CSS(
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f6f4f1; color: #222; }
.bar { display: flex; gap: 12px; align-items: center; padding: 10px 16px; background: #fff; border-bottom: 1px solid #ddd; }
.bar #who { margin-left: auto; color: #666; }
.pill { padding: 2px 8px; border-radius: 10px; background: #eee; }
.nav { display: flex; gap: 8px; padding: 8px 16px; }
.nav a { padding: 4px 10px; border-radius: 8px; color: #333; text-decoration: none; }
.nav a.current { background: #222; color: #fff; }
main { padding: 16px; display: grid; gap: 16px; }
.card { background: #fff; border-radius: 12px; padding: 16px; box-shadow: 0 1px 2px rgba(0,0,0,.08); }
.narrow { max-width: 360px; margin: 40px auto; }
label { display: block; margin: 8px 0; }
input, textarea { width: 100%; box-sizing: border-box; padding: 6px; }
.hint { color: #777; }
iframe { width: 100%; height: 60px; border: 1px dashed #bbb; }
[data-sheet-wrap] { position: fixed; inset: 0; background: rgba(0,0,0,.35); display: flex; align-items: center; justify-content: center; }
[data-sheet-wrap][hidden] { display: none; }
.sheet { background: #fff; border-radius: 14px; padding: 16px; width: 420px; }
.row { display: flex; gap: 8px; margin-top: 8px; }
)CSS";

} // namespace Standin
