// The review station's own script: keeps the queue's count current while imports run, puts the
// search field under the "/" key, lets a clerk settle a registration's doubts by keyboard, and
// has the next registration ready while the clerk works on this one, so it is there the moment
// this one is saved. Everything works without it: the registration page is a plain form, and
// its save answers with the next registration.
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

// Reserves the registration that comes after the one `form` saves and fetches its page: the
// station holds it for this clerk for two minutes, and the save takes it for good if it is still
// theirs (or free); else the save leases another and the page goes there the usual way. Resolves
// to {id, page} or null.
function reserveNext(form) {
    const body = new URLSearchParams({token: form.elements.token.value, after: form.elements.id.value});
    return fetch('/registration/reserve', {method: 'POST', body, credentials: 'same-origin', cache: 'no-store'})
        .then((response) => (response.status === 200 ? response.text() : null))
        .then((text) => {
            if (!text) return null;
            const page = new DOMParser().parseFromString(text, 'text/html');
            const id = page.querySelector('#edit input[name="id"]');
            return id ? {id: id.value, page} : null;
        })
        .catch(() => null);
}

// Puts the registration page `page` in place of this one, as if it had been loaded from `location`.
function showPage(page, location, leaseUntil) {
    window.history.pushState(null, '', location);
    // A script in a parsed document never runs: this one stays the page's only script.
    document.replaceChild(document.adoptNode(page.documentElement), document.documentElement);
    const lease = document.getElementById('lease');
    if (lease && leaseUntil) lease.textContent = 'bei Ihnen bis ' + leaseUntil;
    startPage();
}

// Saves the form in the background and shows the registration `reserved` has ready, or goes
// where the station says. When nothing was saved, the plain form is sent: its answer says why.
function saveAndGoOn(form, reserved) {
    reserved
        .then((next) => {
            const body = new URLSearchParams(new FormData(form));
            if (next) body.set('next', next.id);
            return fetch(form.action, {
                method: 'POST', body, credentials: 'same-origin', cache: 'no-store',
                headers: {Accept: 'application/json'},
            })
                .then((response) => (response.ok ? response.json() : null))
                .then((answer) => {
                    if (!answer || !answer.saved || typeof answer.location !== 'string') form.submit();
                    else if (next && String(answer.next) === next.id) showPage(next.page, answer.location, answer.leaseUntil);
                    else window.location.assign(answer.location);
                });
        })
        .catch(() => form.submit());
}

// The registration page: each doubtful field is confirmed in turn (Enter, as it stands or as
// typed; a digit takes that rival); after the last the form is saved and the next registration
// shown. Escape postpones the registration.
function settleByKeyboard(form) {
    const doubtful = Array.from(form.querySelectorAll('input.value[data-doubt]'));
    const reserved = Number(form.dataset.doubts) > 0 ? reserveNext(form) : Promise.resolve(null);
    let sent = false;

    function row(input) {
        return input.closest('tr');
    }
    function save() {
        if (sent) return;
        sent = true;
        saveAndGoOn(form, reserved);
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
    // The save button (or Enter without the script's keys) goes the same way; a rival's button
    // is taken above.
    form.addEventListener('submit', (event) => {
        event.preventDefault();
        save();
    });
    // A doubtful password is settled once it is shown: Enter shows the passwords first.
    const reveal = document.getElementById('reveal');
    const first = doubtful[0];
    if (reveal && reveal.dataset.first) reveal.focus();
    else if (first && document.activeElement !== first) first.focus();
    else if (first) first.select();
}

// What each page, loaded or put in place, starts with.
function startPage() {
    const form = document.getElementById('edit');
    if (form && document.getElementById('next')) settleByKeyboard(form);
}

document.addEventListener('DOMContentLoaded', () => {
    if (document.getElementById('queue-count')) setInterval(refreshQueueCount, 30000);
    startPage();
    document.addEventListener('keydown', (event) => {
        const target = event.target;
        if (event.key === 'Escape' && !target.closest('input')) {
            const next = document.getElementById('next');
            if (next) next.click();
            return;
        }
        if (event.key !== '/' || target.closest('input, textarea, select')) return;
        event.preventDefault();
        window.location.href = '/search';
    });
    // Back from a registration put in place: the page that was there is loaded again.
    window.addEventListener('popstate', () => window.location.reload());
});
