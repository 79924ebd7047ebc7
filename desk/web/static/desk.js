// The review station's own script: keeps the queue's count current while imports run, and
// puts the search field under the "/" key. Everything works without it.
'use strict';

function refreshQueueCount() {
    const count = document.getElementById('queue-count');
    if (!count) return;
    fetch('/queue.json', {credentials: 'same-origin', cache: 'no-store'})
        .then((response) => (response.ok ? response.json() : null))
        .then((data) => {
            if (!data || typeof data.count !== 'number' || String(data.count) === count.dataset.count) return;
            // A changed count reloads the list, so rows and count stay together.
            window.location.reload();
        })
        .catch(() => {});
}

document.addEventListener('DOMContentLoaded', () => {
    if (document.getElementById('queue-count')) setInterval(refreshQueueCount, 30000);
    document.addEventListener('keydown', (event) => {
        const target = event.target;
        if (event.key !== '/' || target.closest('input, textarea, select')) return;
        event.preventDefault();
        window.location.href = '/search';
    });
});
