// The review station's own script: keeps the queue's count current while imports run, puts the
// search field under the "/" key, and lets a clerk settle a registration's doubts by keyboard.
// Everything works without it: the registration page is a plain form.
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

// The registration page: each doubtful field is confirmed in turn (Enter, as it stands or as
// typed; a digit takes that rival); after the last the form is saved, and the server answers
// with the next registration. Escape postpones the registration.
function settleByKeyboard(form) {
    const doubtful = Array.from(form.querySelectorAll('input.value[data-doubt]'));
    let sent = false;

    function row(input) {
        return input.closest('tr');
    }
    function save() {
        if (sent) return;
        sent = true;
        form.requestSubmit();
    }
    // The next doubt not yet confirmed after `input` (from the top again), or none.
    function nextOpen(input) {
        const start = Math.max(0, doubtful.indexOf(input) + 1);
        for (let i = 0; i < doubtful.length; ++i) {
            const candidate = doubtful[(start + i) % doubtful.length];
            if (!row(candidate).classList.contains('confirmed')) return candidate;
        }
        return null;
    }
    function confirmAndMove(input) {
        if (doubtful.includes(input)) row(input).classList.add('confirmed');
        const next = nextOpen(input);
        if (next) next.focus();
        else save();
    }
    function takeRival(input, button) {
        input.value = button.dataset.rival;
        confirmAndMove(input);
    }
    function rivalButton(input, key) {
        return row(input).querySelector('button.rival[data-key="' + key + '"]');
    }

    for (const button of form.querySelectorAll('button.rival')) {
        // The rival's value, kept apart from the button's name and value the plain form posts.
        button.dataset.rival = button.value;
        button.addEventListener('click', (event) => {
            event.preventDefault();
            const input = document.getElementById('f-' + button.dataset.field);
            if (input) takeRival(input, button);
        });
    }
    for (const input of form.querySelectorAll('input.value')) {
        // Typing replaces the value shown; a digit before any typing takes a rival.
        input.addEventListener('focus', () => {
            input.dataset.editing = '';
            input.select();
        });
        input.addEventListener('keydown', (event) => {
            if (event.altKey || event.ctrlKey || event.metaKey || event.isComposing) return;
            if (event.key === 'Enter') {
                event.preventDefault();
                confirmAndMove(input);
            } else if (event.key === 'Escape') {
                event.preventDefault();
                document.getElementById('next').click();
            } else if (/^[1-9]$/.test(event.key) && !input.dataset.editing && rivalButton(input, event.key)) {
                event.preventDefault();
                takeRival(input, rivalButton(input, event.key));
            } else if (event.key.length === 1 || event.key === 'Backspace' || event.key === 'Delete' || event.key === 'F2') {
                input.dataset.editing = '1';
            }
        });
    }
    document.addEventListener('keydown', (event) => {
        if (event.key === 'Escape' && !event.target.closest('input')) document.getElementById('next').click();
    });
    const first = doubtful[0];
    if (first && document.activeElement !== first) first.focus();
    else if (first) first.select();
}

document.addEventListener('DOMContentLoaded', () => {
    if (document.getElementById('queue-count')) setInterval(refreshQueueCount, 30000);
    const form = document.getElementById('edit');
    if (form && document.getElementById('next')) settleByKeyboard(form);
    document.addEventListener('keydown', (event) => {
        const target = event.target;
        if (event.key !== '/' || target.closest('input, textarea, select')) return;
        event.preventDefault();
        window.location.href = '/search';
    });
});
