// Page side of the native bridge.
//
// getNativeFunction(name) returns a function; calling it with positional arguments
// returns a promise of the native answer (undefined when the native side answers with
// no value). A call never throws into the page: a missing function or a host failure
// rejects the promise.
//
// Transports, chosen per call:
//  - window.__tarvoTestBridge.call(name, args) -> promise: a scripted bridge installed by page tests;
//  - the embedded web view: window.webkit.messageHandlers.tarvoNative.postMessage(text),
//    answered by the host evaluating window.__tarvoNative.complete(id, ok, value);
//  - otherwise HTTP: POST /__native/call {"name", "args"} answered with
//    {"ok": true, "result": value} or {"ok": false, "error": text} (the page test host).
(function () {
  'use strict';
  if (window.getNativeFunction && window.__tarvoNative) return;

  // The host drops larger call documents (4 MiB of UTF-8); refuse them here instead,
  // so the promise rejects rather than waiting for ever.
  const MAX_CALL_CHARS = 1000000;
  const pending = new Map();
  let nextId = 1;

  function viaWebKit(handler, name, args) {
    return new Promise(function (resolve, reject) {
      const id = nextId++;
      pending.set(id, { resolve: resolve, reject: reject });
      try {
        const text = JSON.stringify({ id: id, name: String(name), args: args });
        if (text.length > MAX_CALL_CHARS) throw new Error('native call arguments too large');
        handler.postMessage(text);
      } catch (e) {
        pending.delete(id);
        reject(e instanceof Error ? e : new Error(String(e)));
      }
    });
  }

  function viaHttp(name, args) {
    return fetch('/__native/call', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ name: String(name), args: args })
    }).then(function (response) {
      if (!response.ok) throw new Error('native call failed: HTTP ' + response.status);
      return response.json();
    }).then(function (answer) {
      if (!answer || answer.ok !== true) throw new Error((answer && answer.error) || 'native call failed');
      return answer.result;
    });
  }

  function call(name, args) {
    try {
      if (window.__tarvoTestBridge && typeof window.__tarvoTestBridge.call === 'function')
        return Promise.resolve(window.__tarvoTestBridge.call(name, args));
      const handlers = window.webkit && window.webkit.messageHandlers;
      if (handlers && handlers.tarvoNative)
        return viaWebKit(handlers.tarvoNative, name, args);
      return viaHttp(name, args);
    } catch (e) {
      return Promise.reject(e instanceof Error ? e : new Error(String(e)));
    }
  }

  window.__tarvoNative = {
    // Called by the embedded host with the answer to call `id`.
    complete: function (id, ok, value) {
      const entry = pending.get(id);
      if (!entry) return;
      pending.delete(id);
      if (ok) entry.resolve(value);
      else entry.reject(new Error(typeof value === 'string' ? value : 'native call failed'));
    }
  };

  window.getNativeFunction = function (name) {
    return function () {
      const args = Array.prototype.slice.call(arguments).map(function (a) { return a === undefined ? null : a; });
      return call(name, args);
    };
  };
})();
