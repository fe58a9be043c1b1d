// The page-side bridge of Zephyl Kitty. It runs in the service's page before the
// page's own scripts, after window.__zephylMacConfig is set, and gives the page
// window.__zephylMac: the calls the application makes, each turned into a DOM
// event ("zephylmac:<name>") the page may listen to. The page posts its own
// messages to window.webkit.messageHandlers.zephyl.
(function () {
  'use strict';
  if (window.__zephylMac) return;
  var config = window.__zephylMacConfig || {};
  var state = { focus: { active: false }, calm: false };

  function root(apply) {
    if (document.documentElement) apply(document.documentElement);
    else document.addEventListener('DOMContentLoaded', function () { apply(document.documentElement); }, { once: true });
  }

  function emit(name, detail) {
    try { window.dispatchEvent(new CustomEvent('zephylmac:' + name, { detail: detail })); } catch (e) {}
  }

  function language() {
    var tag = (document.documentElement && document.documentElement.lang) || navigator.language || 'en';
    return String(tag).split('-')[0].toLowerCase();
  }

  function word(key) {
    var words = config.words && config.words[key];
    if (!words) return '';
    return words[language()] || words.en || '';
  }

  if (config.css) {
    root(function (html) {
      var style = document.createElement('style');
      style.id = 'zephyl-mac-style';
      style.textContent = config.css;
      (document.head || html).appendChild(style);
    });
  }

  var bridge = {
    config: config,
    setFocus: function (focus) {
      focus = focus || {};
      var active = focus.active === true;
      var minutes = typeof focus.minutes === 'number' ? Math.round(focus.minutes) : 0;
      state.focus = {
        active: active,
        paused: active && focus.paused === true,
        display: active && typeof focus.display === 'string' ? focus.display : '',
        minutes: minutes
      };
      root(function (html) { html.dataset.zephylFocus = active ? (state.focus.paused ? 'paused' : 'active') : 'idle'; });
      emit('focus', {
        active: state.focus.active, paused: state.focus.paused, display: state.focus.display, minutes: minutes,
        label: word('focus'), minutesText: word('minutes').replace('%d', String(minutes))
      });
    },
    setCalm: function (calm) {
      state.calm = calm === true;
      root(function (html) { html.classList.toggle('zephyl-calm', state.calm); });
      emit('calm', { calm: state.calm });
    },
    pulse: function (name) {
      name = String(name);
      var target = null;
      var links = document.querySelectorAll('[data-navfor]');
      for (var i = 0; i < links.length; i++) if (links[i].getAttribute('data-navfor') === name) target = links[i];
      if (target) {
        target.classList.remove('zephyl-pulse');
        void target.offsetWidth;
        target.classList.add('zephyl-pulse');
        setTimeout(function () { target.classList.remove('zephyl-pulse'); }, 1400);
      }
      emit('pulse', { name: name });
    },
    saveChatDraft: function () { emit('save-chat-draft', {}); },
    state: function () { return { focus: state.focus, calm: state.calm }; }
  };

  Object.defineProperty(window, '__zephylMac', { value: Object.freeze(bridge), writable: false, configurable: false });
})();
