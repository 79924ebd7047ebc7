#!/usr/bin/env bash
# Makes the CUPS PDF printer "VelkPDF" this machine's default printer, so that the print
# tests under Wine have a printer whose jobs end up as PDF files in $HOME/PDF.
# Installs nothing. Starts the CUPS scheduler when it is not running. Safe to run again;
# does nothing when everything is already in place.
set -uo pipefail

printer=VelkPDF
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd

warn() { echo "printer-setup: $*" >&2; }

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo -n"; fi

if ! command -v lpstat >/dev/null || ! command -v cupsd >/dev/null; then
    warn "CUPS is not installed (scripts/install-deps.sh installs it); the print tests will fail"
    exit 0
fi

scheduler_running() { lpstat -r 2>/dev/null </dev/null | grep -q "scheduler is running"; }

if ! scheduler_running; then
    # cupsd puts itself in the background and keeps running after this script.
    $SUDO cupsd </dev/null >/dev/null 2>&1 || warn "could not start cupsd"
    for _ in $(seq 1 100); do
        scheduler_running && break
        sleep 0.1
    done
    if ! scheduler_running; then
        warn "the CUPS scheduler is not running; the print tests will fail"
        exit 0
    fi
fi

if ! lpstat -v "$printer" >/dev/null 2>&1 </dev/null; then
    if [ ! -f "$ppd" ]; then
        warn "$ppd is missing (package printer-driver-cups-pdf); the print tests will fail"
        exit 0
    fi
    $SUDO lpadmin -p "$printer" -v cups-pdf:/ -E -P "$ppd" </dev/null || warn "could not add $printer"
fi

# A printer that exists but was stopped or set to reject jobs would swallow every test job.
if lpstat -p "$printer" 2>/dev/null </dev/null | grep -q disabled; then
    $SUDO cupsenable "$printer" </dev/null || warn "could not enable $printer"
fi
if lpstat -a "$printer" 2>/dev/null </dev/null | grep -q "not accepting"; then
    $SUDO cupsaccept "$printer" </dev/null || warn "could not make $printer accept jobs"
fi

if ! lpstat -d 2>/dev/null </dev/null | grep -q "destination: $printer\$"; then
    $SUDO lpadmin -d "$printer" </dev/null || warn "could not make $printer the default"
fi
exit 0
