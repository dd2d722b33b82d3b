'use strict';
// Keeps the page's own files so that it opens offline.  The network comes
// first, so a new build is seen as soon as it is served; the copies only
// when there is none.
const FILES = ['./', 'index.html', 'style.css', 'page.js', 'zefa.js', 'zefa.wasm'];
self.addEventListener('install', e => e.waitUntil(caches.open('zefa').then(c => c.addAll(FILES))));
self.addEventListener('fetch', e => {
  if (e.request.method !== 'GET' || new URL(e.request.url).origin !== location.origin) return;
  e.respondWith(fetch(e.request).then(r => {
    if (r.ok) {
      const copy = r.clone();
      caches.open('zefa').then(c => c.put(e.request, copy));
    }
    return r;
  }, () => caches.match(e.request, {ignoreSearch: true})));
});
