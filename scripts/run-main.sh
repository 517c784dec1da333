#!/bin/bash
# The main job: on a fresh Debian machine installs what is missing, builds,
# makes a private Wine prefix, installs the print processor there (printer
# "Halvek Capture" on a short file port, output folder under the build
# tree), starts the queue listener, prints the sample jobs through Wine's
# spooler and shows what was captured, the path the port received and the
# queue messages.
#   scripts/run-main.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${root}/build}"

"${root}/scripts/install-deps.sh"
"${root}/scripts/build.sh" "$build"
build="$(cd "$build" && pwd)"

prefix="${build}/main-prefix"
output="${build}/captured"
printer="Halvek Capture"
port='C:\halvek.prn'
export HALVEK_WINEPREFIX="$prefix" WINEPREFIX="$prefix" WINEDEBUG=-all
# Code page 932 keeps the Japanese sample's title in its file name.
if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  export HALVEK_WINE_LOCALE=ja_JP.UTF-8
fi
run() { "${build}/wine-run.sh" "$@"; }
win_path() { echo "Z:${1//\//\\}"; }

echo "== fresh Wine prefix: ${prefix}"
rm -rf "$output"
bash "${root}/scripts/wine-prefix.sh" start "$build" "$prefix" >/dev/null
listener=""
cleanup() {
  [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "== install"
run "${build}/bin/halvek-setup.exe" install --printer "$printer" --port "$port" \
  --output-folder "$(win_path "$output")"
run "${build}/bin/halvek-setup.exe" status

messages="${build}/main-queue.jsonl"
rm -f "$messages"
if [ -f "${build}/bin/halvek-listen.exe" ]; then
  echo "== listener on RequestQue"
  run "${build}/bin/halvek-listen.exe" </dev/null >"$messages" 2>"${messages}.log" &
  listener=$!
  for _ in $(seq 100); do
    grep -q "listening on the queue" "${messages}.log" 2>/dev/null && break
    sleep 0.1
  done
else
  echo "== no halvek-listen.exe in this build: queue messages are not shown"
fi

echo "== capture log on"
run "${build}/bin/halvek-setup.exe" log on "$(win_path "${build}/main-capture.log")"
rm -f "${build}/main-capture.log" "${build}/main-capture.log.1"

echo "== what the capture will name a sample (halvek-name, nothing is printed)"
run "${build}/bin/halvek-name.exe" --document-name acrobat9-mac.ps \
  "$(win_path "${root}/examples/acrobat9-mac.ps")"

port_file="${prefix}/drive_c/halvek.prn"
for sample in acrobat9-mac.ps invoice.pdf ticket-order.xpif japanese-title.ps; do
  echo "== print ${sample}"
  # Wine's file port overwrites without truncating: start each job without it.
  rm -f "$port_file"
  status=0
  run "${build}/bin/halvek-print.exe" "$printer" "$(win_path "${root}/examples/${sample}")" || status=$?
  [ "$status" -eq 0 ] || echo "   (halvek-print exit ${status})"
  if [ -s "$port_file" ]; then
    echo "   port ${port} received: $(iconv -f UTF-16LE -t UTF-8 "$port_file")"
  else
    echo "   port ${port} received nothing"
  fi
done

echo "== captured files in ${output}"
ls -l "$output"
echo "== last lines of the capture log"
run "${build}/bin/halvek-setup.exe" log show 5
if [ -n "$listener" ]; then
  sleep 1
  kill "$listener" 2>/dev/null || true
  wait "$listener" 2>/dev/null || true
  listener=""
  echo "== queue messages"
  cat "$messages"
fi
