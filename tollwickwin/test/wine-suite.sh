#!/usr/bin/env bash
# Checks the cross-built tray program and Brindle under Wine, in a fresh prefix on a private X display:
#   tollwickwin/test/wine-suite.sh BUILD_DIR
# BUILD_DIR holds TollwickW.exe, Brindle.exe and the test programs (tollwickwin_test, tollwickwin_probe,
# tollwickwin_stand_in_service). Prints PASS or FAIL per check and exits non-zero on any failure; screenshots and
# logs go to BUILD_DIR/wine-output.
set -euo pipefail

build=$(cd "${1:?usage: wine-suite.sh BUILD_DIR}" && pwd)
out=$build/wine-output
rm -rf "$out"
mkdir -p "$out"

export WINEPREFIX=$build/wine-prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
readonly run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

failures=0
pass() { echo "PASS $1"; }
fail() {
  echo "FAIL $1${2:+ ($2)}"
  failures=$((failures + 1))
  show_state
}
# check NAME COMMAND...: one line of PASS or FAIL for the command's outcome.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# wait_until SECONDS COMMAND...: polls until the command succeeds; fails when the time is up.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# Fails when the text of $1 (a file) does not hold the fixed string $2.
log_has() { grep -qF -- "$2" "$1"; }

# What the display and the logs hold now, printed under a failed check: the visible windows, the last
# events of the running program's trace and the stand-in service's journal.
show_state() {
  echo "  visible windows:"
  xwininfo -root -tree 2>/dev/null | grep -E '^ +0x[0-9a-f]+ "' |
    while read -r id rest; do
      if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then echo "    $id $rest"; fi
    done
  if [ -s "${session:-}" ]; then
    echo "  last events in $(basename "$session"):"
    grep -aE 'menu:(NtUserTrackPopupMenuEx|track_menu|select_item|exec_focused_item|exit_tracking)|msgbox:MSGBOX_OnInit|exec:SHELL_execute (mask|retval)|process:CreateProcessInternalW' \
      "$session" | tail -n 10 | tr -d '\r' | cut -c1-160 | sed 's/^/    /'
  fi
  if [ -s "${journal:-}" ]; then
    echo "  service journal: $(tail -n 4 "$journal" | tr '\n' ' ')"
  fi
}

find_built() {
  local file
  file=$(find "$build" -name "$1" -not -path "$WINEPREFIX/*" -not -path "$out/*" -print -quit)
  [ -n "$file" ] || { echo "wine-suite: $1 not found below $build" >&2; exit 1; }
  echo "$file"
}

xvfb_pid=""
background_pids=()
cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  for pid in "${background_pids[@]}" $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# --- display, prefix and the installed program

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/xvfb.display" 2>"$out/xvfb.log" &
xvfb_pid=$!
wait_until 20 test -s "$out/xvfb.display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$out/xvfb.display")"

rm -rf "$WINEPREFIX"
timeout 120 wineboot -i >"$out/wineboot.log" 2>&1 && timeout 60 wineserver -w ||
  { echo "wine-suite: the Wine prefix could not be made, see $out/wineboot.log" >&2; exit 1; }
wine_reg() { timeout 30 wine reg "$@" >/dev/null 2>&1; }
wine_reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f

# The browser that ShellExecute reaches: a recorder of the URLs it is given.
urls=$out/browser-urls.txt
: >"$urls"
recorder=$out/browser-recorder.sh
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$urls" >"$recorder"
chmod +x "$recorder"
wine_reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$recorder" /f

program_dir="$WINEPREFIX/drive_c/Program Files/Tollwick"
mkdir -p "$program_dir"
cp "$(find_built TollwickW.exe)" "$(find_built Brindle.exe)" "$program_dir/"
program=$program_dir/TollwickW.exe
unit_tests=$(find_built tollwickwin_test.exe)
probe_exe=$(find_built tollwickwin_probe.exe)
program_win=$(winepath -w "$program")
program_dir_win=$(winepath -w "$program_dir")
# Wine's traces print paths with doubled backslashes.
traced() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

probe() { timeout 30 wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }

# --- helpers for the running program

tray_visible() { xdotool search --onlyvisible --name '^Wine System Tray$' >/dev/null 2>&1; }
tray_hidden() { ! tray_visible; }
# Visible X windows of the program itself: menus, dialogs, message boxes, help windows.
program_windows() { xdotool search --onlyvisible --classname '^tollwickw\.exe$' 2>/dev/null || true; }
no_program_window() { [ -z "$(program_windows)" ]; }
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_named "$1")" ]; }
window_gone() { [ -z "$(window_named "$1")" ]; }

# start_program LOG WINEDEBUG [ARGS...]: starts the program in the background; program_pid is its process.
start_program() {
  local log=$out/$1.log debug=$2
  shift 2
  WINEDEBUG=$debug wine "$program" "$@" >"$log" 2>&1 &
  program_pid=$!
  background_pids+=("$program_pid")
}
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }

# Ends every Windows process of the prefix and waits until the Wine server has gone, the last started
# program has ended and its tray window is off the display, so that nothing of it is seen by later checks.
stop_all() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  wait_until 20 stopped "$program_pid" || true
  wait "$program_pid" 2>/dev/null || true
  wait_until 20 tray_hidden || true
}

# run_switch NAME WINEDEBUG ARGS...: a maintenance run in the foreground, watched for windows. Sets
# switch_status, and switch_windows to the program windows seen while it ran.
run_switch() {
  local name=$1 debug=$2 seen=$out/$1.windows
  shift 2
  : >"$seen"
  (while :; do program_windows >>"$seen"; sleep 0.1; done) &
  local watcher=$!
  switch_status=0
  WINEDEBUG=$debug timeout 30 wine "$program" "$@" >"$out/$name.log" 2>&1 || switch_status=$?
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null || true
  program_windows >>"$seen"
  switch_windows=$(sort -u "$seen" | wc -l)
}
quiet_exit() { [ "$switch_status" -eq 0 ] && [ "$switch_windows" -eq 0 ]; }

run_value() { timeout 30 wine reg query "$run_key" /v TollwickRun 2>/dev/null | tr -d '\r' | sed -n 's/^ *TollwickRun *REG_SZ *//p'; }
run_value_absent() { [ -z "$(run_value)" ]; }
run_value_is_program() { [ "$(run_value)" = "\"$program_win\"" ]; }
delete_run_value() { wine_reg delete "$run_key" /v TollwickRun /f || true; }

tray_window() { xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -n 1; }
# click_icon BUTTON [REPEAT]: clicks the first icon of the tray window. A click on the spot of the one before,
# within the double-click time, would reach the program as a double click, so the clicks take turns between
# two spots of the icon.
click_icon() {
  local tray left at x=5
  tray=$(tray_window)
  [ -n "$tray" ] || return 1
  left=$(($(xdotool getwindowgeometry --shell "$tray" | sed -n 's/^X=//p') + 5))
  at=$(xdotool getmouselocation | sed -E 's/^x:([0-9]+) .*/\1/')
  [ "$at" = "$left" ] && x=13
  xdotool mousemove --window "$tray" "$x" 10 click --repeat "${2:-1}" "$1"
}

# The program's menu loop as its trace shows it after line $1 of the session log: whether a menu is being
# tracked, how many selection changes there were, the selected position, whether command $2 was run, and
# whether the call that showed the menu has returned (the program destroys the menu then; by that time it
# has released the pointer, so the next click reaches the icon again).
menu_events() { since "$session" "$1" | grep -a 'trace:menu:' | tr -d '\r'; }
menu_tracking() { menu_events "$1" | grep -q 'track_menu hmenu='; }
menu_selections() { menu_events "$1" | grep -c 'select_item ' || true; }
selected_position() { menu_events "$1" | grep 'select_item ' | tail -n 1 | sed -E 's/.*index 0x([0-9a-f]+) .*/\1/'; }
more_selections() { [ "$(menu_selections "$1")" -gt "$2" ]; }
menu_ran() { menu_events "$1" | grep -q "exec_focused_item handle .* ID 0000$2 "; }
menu_closed() {
  local menu
  menu=$(menu_events "$1" | sed -nE 's/.*NtUserTrackPopupMenuEx hmenu (0x[0-9a-f]+) .*/\1/p' | tail -n 1)
  [ -n "$menu" ] && menu_events "$1" | grep -qF "NtUserDestroyMenu ($menu)"
}

# open_menu: right click on the icon; done when the program's menu loop runs.
open_menu() {
  local start
  start=$(mark "$session")
  click_icon 3 && wait_until 10 menu_tracking "$start"
}
# choose POSITION ID: opens the menu and presses Down until the trace shows the item at POSITION (separators
# count) selected, then Return; done when the trace shows the command ID run. Each key waits until the menu
# loop has taken the one before, so no key is lost to a menu not yet listening.
choose() {
  local start presses=0 seen
  start=$(mark "$session")
  open_menu || return 1
  until [ "$(selected_position "$start")" = "$1" ]; do
    ((presses++ < 12)) || return 1
    seen=$(menu_selections "$start")
    xdotool key Down && wait_until 5 more_selections "$start" "$seen" || return 1
  done
  xdotool key Return && wait_until 10 menu_ran "$start" "$2" && wait_until 10 menu_closed "$start"
}
readonly menu_testing_program="0000 800c" menu_getting_started="0001 800e" menu_restart_proxy="0003 8010"
readonly menu_setting_up_filtration="0004 8008" menu_about="0005 8009" menu_exit="0007 800b"

# settled: every message that reached the program before this call has been handled. The program handles its
# messages in order, so once a menu opened now has come and gone, all earlier commands have finished.
settled() {
  local start
  start=$(mark "$session")
  open_menu && xdotool key Escape && wait_until 10 menu_closed "$start"
}

# press_in TITLE KEY...: gives the named window the keyboard and presses the keys.
press_in() {
  local window
  window=$(window_named "$1")
  shift
  [ -n "$window" ] && xdotool windowfocus --sync "$window" key "$@"
}

# Line count of a log now, and what was written to it after that mark.
mark() { wc -l <"$1"; }
since() { tail -n "+$(($2 + 1))" "$1"; }

screenshot() { import -window root "$out/$1.png" 2>/dev/null || true; }

# --- unit tests

if timeout 120 wine "$unit_tests" >"$out/unit-tests.log" 2>&1; then
  pass "unit tests ($(grep -a 'cases,' "$out/unit-tests.log" | tr -d '\r'))"
else
  fail "unit tests" "see $out/unit-tests.log"
  grep -a FAILED "$out/unit-tests.log" | tr -d '\r' || true
fi

# --- maintenance switches

# switch_registers NAME ARGS...: with the Run value deleted first, the run registers the quoted path.
switch_registers() {
  local name=$1
  shift
  delete_run_value
  run_switch "$name" -all "$@"
  check "switch '$*' registers autorun, exits 0 and shows nothing" eval 'quiet_exit && run_value_is_program'
}
switch_registers autorun-upper -AUTORUN
switch_registers autorun-among-words x -autorun y
switch_registers noautorun-then-autorun -noautorun -autorun

run_switch noautorun -all -noautorun
check "switch '-noautorun' removes autorun, exits 0 and shows nothing" eval 'quiet_exit && run_value_absent'

delete_run_value
run_switch autorun-and-setup -all,fixme+hnetcfg -autorun -setup
check "switch '-autorun -setup' only registers autorun" \
  eval 'quiet_exit && run_value_is_program && ! grep -q hnetcfg "$out/autorun-and-setup.log"'

# no_switch NAME ARGS...: an interactive start that leaves the Run value alone.
no_switch() {
  local name=$1
  shift
  delete_run_value
  start_program "$name" -all "$@"
  check "'$*' is no switch: the tray icon appears, autorun stays unregistered" \
    eval 'wait_until 30 tray_visible && run_value_absent'
  stop_all
}
no_switch autorunx -autorunx
no_switch x-autorun x-autorun

# --- firewall exceptions, seen in Wine's trace of its firewall stubs

# firewall_calls LOG: the traced calls without thread ids and object addresses.
firewall_calls() { grep -a 'hnetcfg:fw_' "$1" | tr -d '\r' | sed -E 's/^[0-9a-f]+:fixme:hnetcfg://; s/ [0-9A-F]{16}(,|$)//g'; }
service_win=$(traced "$program_dir_win\\ZunService.exe")
panel_win=$(traced "$program_dir_win\\TollwickW.exe")

run_switch setup -all,fixme+hnetcfg -setup
expected_setup="fw_app_put_ProcessImageFileName L\"$service_win\"
fw_app_put_Name L\"Tollwick service\"
fw_apps_Add
fw_app_put_ProcessImageFileName L\"$panel_win\"
fw_app_put_Name L\"Tollwick control panel\"
fw_apps_Add"
check "switch '-setup' adds both firewall exceptions, exits 0 and shows nothing" \
  eval 'quiet_exit && [ "$(firewall_calls "$out/setup.log")" = "$expected_setup" ]'

run_switch remove -all,fixme+hnetcfg -remove
expected_remove="fw_apps_Remove L\"$service_win\"
fw_apps_Remove L\"$panel_win\""
check "switch '-remove' removes both firewall exceptions, exits 0 and shows nothing" \
  eval 'quiet_exit && [ "$(firewall_calls "$out/remove.log")" = "$expected_remove" ]'

# --- bad input for the switches

for switch in -setup -remove; do
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;hnetcfg=" run_switch "no-firewall$switch" -all "$switch"
  check "switch '$switch' without the firewall objects exits 0 and shows nothing" quiet_exit
done

# The key is gone for certain before the program runs, and a failure says which part of the check failed.
run_key_absent() { ! timeout 30 wine reg query "$run_key" >/dev/null 2>&1; }
wine_reg delete "$run_key" /f || true
if wait_until 15 run_key_absent; then
  run_switch autorun-without-key -all -autorun
  if quiet_exit && run_key_absent; then
    pass "switch '-autorun' without the Run key exits 0, shows nothing and creates nothing"
  else
    run_key_absent && key_state=absent || key_state=present
    fail "switch '-autorun' without the Run key exits 0, shows nothing and creates nothing" \
      "exit status $switch_status, $switch_windows windows seen, Run key $key_state afterwards"
  fi
else
  fail "switch '-autorun' without the Run key exits 0, shows nothing and creates nothing" \
    "the Run key could not be deleted before the run"
fi
wine_reg add "$run_key" /f

# --- Brindle and a service standing in for the filtering service host

check "Brindle.exe without the service exits with code 2" \
  eval 'timeout 60 wine "$program_dir/Brindle.exe" >"$out/brindle.log" 2>&1; [ $? -eq 2 ]'
service_dir=$WINEPREFIX/drive_c/tollwick-test
mkdir -p "$service_dir"
cp "$(find_built tollwickwin_stand_in_service.exe)" "$service_dir/"
journal=$service_dir/service.log
: >"$journal"
check "the stand-in service installs as ZunService" \
  timeout 30 wine sc create ZunService \
  binPath= "$(winepath -w "$service_dir/tollwickwin_stand_in_service.exe") $(winepath -w "$journal")" start= demand

# --- the interactive program

trace=-all,trace+menu,trace+msgbox,trace+ieframe,trace+process,trace+exec
session=$out/session.log
start_program session "$trace"
first_pid=$program_pid
check "interactive start: the tray icon appears" wait_until 30 tray_visible
check "the main window exists and stays hidden" eval '[ "$(probe find _Tollwick_main_class_ TollwickWin)" = hidden ]'

# menu_items LOG: id and text of each item appended to the last menu tracked, from Wine's menu trace.
menu_items() {
  local menu
  menu=$(grep -a 'TrackPopupMenu' "$1" | tail -n 1 | sed -E 's/.*hmenu (0x[0-9a-f]+).*/\1/')
  [ -n "$menu" ] || return 0
  grep -a "InsertMenuW hMenu $(printf '%016X' "$menu")," "$1" | tail -n 8 |
    sed -E 's/.*id ([0-9a-f]+), str (L"(.*)"|.*not a string.*)$/\1 \3/'
}
# menu_images LOG: id and image of each item whose checked and unchecked bitmaps are one and the same image.
menu_images() {
  grep -a 'set_menu_item_info to: { ID=0x[0-9a-f]*, Chk=' "$1" |
    sed -nE 's/.*ID=0x([0-9a-f]+), Chk=(0x[0-9a-f]+), Unc=\2,.*/\1 \2/p'
}
expected_items="800c Testing Program
800e Getting Started
0000 
8010 Restart Proxy
8008 Setting up Filtration
8009 About
0000 
800b Exit"
# The icon's clicks reach the program in order: once the right click's menu runs, the left and double clicks
# before it have been handled, and a menu of theirs would show as a second one in the trace.
before=$(mark "$session")
click_icon 1 && click_icon 1 2
if open_menu; then
  pass "a right click on the icon opens the menu"
  check "a left click and a double click on the icon open no menu" \
    eval '[ "$(since "$session" "$before" | grep -ac NtUserTrackPopupMenuEx)" = 1 ]'
  wait_until 10 eval '! no_program_window' || true
  screenshot tray-menu
  since "$session" "$before" >"$out/menu.log"
  check "the menu holds the seven items in order (screenshot tray-menu.png)" \
    eval '[ "$(menu_items "$out/menu.log")" = "$expected_items" ]'
  check "Restart Proxy, About and Exit carry three different images" \
    eval '[ "$(menu_images "$out/menu.log" | cut -d " " -f 1 | tr "\n" " ")" = "8010 8009 800b " ] &&
      [ "$(menu_images "$out/menu.log" | cut -d " " -f 2 | sort -u | wc -l)" -eq 3 ]'
  xdotool key Escape
  wait_until 10 menu_closed "$before" || true
else
  fail "a right click on the icon opens the menu"
fi

start_program second-instance -all,trace+msgbox
second_pid=$program_pid
if wait_until 30 window_shown Tollwick; then
  screenshot second-instance
  check "a second start says: Another copy of the program is running." \
    wait_until 10 log_has "$out/second-instance.log" 'MSGBOX_OnInit L"Another copy of the program is running."'
  press_in Tollwick Return || true
  check "the second start exits with code 0 after the message" \
    eval 'wait_until 15 stopped "$second_pid" && wait "$second_pid"'
  check "the first start keeps running with its icon" eval 'running "$first_pid" && tray_visible'
else
  fail "a second start shows a message box titled Tollwick"
fi
program_pid=$first_pid

check "Setting up Filtration opens http://admin.tollwick/" \
  eval 'choose $menu_setting_up_filtration && wait_until 20 test -s "$urls" && [ "$(cat "$urls")" = "http://admin.tollwick/" ]'

if choose $menu_about && wait_until 15 window_shown 'About Tollwick'; then
  screenshot about
  check "About shows Version: 1.0.4.1" \
    eval '[ "$(probe text "#32770" "About Tollwick" 1000)" = "Version: 1.0.4.1" ]'
  press_in 'About Tollwick' Return || true
  check "OK closes the About box" wait_until 10 window_gone 'About Tollwick'
else
  fail "About opens the box titled About Tollwick"
fi

# help_windows: one line per help window (a dialog titled Tollwick holding the browser control 1004).
help_windows() { probe find '#32770' Tollwick 1004; }
# Closes every visible help window with its close box and waits until none is shown.
close_help_windows() {
  probe close '#32770' Tollwick 1004
  wait_until 10 eval '! help_windows | grep -q visible'
}
navigations() { grep -acF "res://$(traced "$program_win")/$1" "$session" || true; }
before=$(mark "$session")
if choose $menu_testing_program && wait_until 15 eval '[ "$(help_windows)" = visible ]'; then
  check "Testing Program navigates its help window to res://<program>/203" wait_until 10 eval '[ "$(navigations 203)" -gt 0 ]'
  screenshot testing-program
  first_navigations=$(navigations 203)
  check "closing the help window hides it" eval 'close_help_windows && [ "$(help_windows)" = hidden ]'
  check "Testing Program again shows the same window on the same page" \
    eval 'choose $menu_testing_program && wait_until 15 eval "[ \"\$(help_windows)\" = visible ]" && settled &&
      [ "$(navigations 203)" = "$first_navigations" ]'
else
  fail "Testing Program opens a help window"
fi
since "$session" "$before" | grep -a 'res://' >"$out/help-navigation.log" || true

if choose $menu_getting_started && wait_until 15 eval '[ "$(help_windows | grep -c visible)" = 2 ]'; then
  check "Getting Started opens a second help window navigated to res://<program>/204" \
    wait_until 10 eval '[ "$(navigations 204)" -gt 0 ]'
else
  fail "Getting Started opens a second help window"
fi
check "both help windows close" close_help_windows

# The service journal's events after line $1, as one line ("stop start " for a restart).
journal_since() { tail -n "+$(($1 + 1))" "$journal" 2>/dev/null | cut -d ' ' -f 1 | tr '\n' ' '; }
# Running as the service control manager sees it; the stand-in notes its start before it reports running.
service_state() { timeout 30 wine sc query ZunService 2>/dev/null | tr -d '\r' | sed -nE 's/^ *STATE *: [0-9]+ +//p'; }
service_running() { [ "$(service_state)" = RUNNING ] && [ "$(tail -n 1 "$journal" | cut -d ' ' -f 1)" = start ]; }
start_service() {
  timeout 30 wine sc start ZunService >/dev/null 2>&1 || true
  wait_until 15 service_running
}
restarted_since() { [ "$(journal_since "$1")" = "stop start " ]; }

# How Restart Proxy started Brindle.exe, from the session's trace after line $1: directly with no argument,
# or through ShellExecuteEx with the verb runas, no parameters, shown normally and the mask 0x500.
brindle_win=$(traced "$program_dir_win\\Brindle.exe")
started_directly() {
  local lines
  lines=$(since "$session" "$1" | grep -a 'trace:process:CreateProcessInternalW app' | tr -d '\r')
  { grep -qF "cmdline L\"$brindle_win\"" <<<"$lines" || grep -qF "cmdline L\"\\\"$brindle_win\\\"\"" <<<"$lines"; } &&
    ! since "$session" "$1" | grep -qa 'verb=L"runas"'
}
started_elevated() {
  since "$session" "$1" | grep -a 'SHELL_execute mask=0x00000500 ' |
    grep -qF "verb=L\"runas\" file=L\"$brindle_win\" parm=(null) dir=(null) show=0x00000001"
}
# restart_proxy NAME direct|elevated: with the stand-in service running, Restart Proxy starts Brindle.exe from
# the program folder that way, and Brindle restarts the service.
restart_proxy() {
  local before journal_before
  check "the stand-in service runs" start_service
  before=$(mark "$session")
  journal_before=$(wc -l <"$journal")
  choose $menu_restart_proxy || true
  check "Restart Proxy ($1) starts Brindle.exe from the program folder $2" \
    wait_until 15 "started_$2" "$before"
  check "Brindle.exe restarts the service (stop, then start)" wait_until 40 restarted_since "$journal_before"
  check "Restart Proxy ($1) shows no error" eval 'settled && ! since "$session" "$before" | grep -qa MSGBOX_OnInit'
}
# restart_without_brindle NAME MESSAGE: with Brindle.exe missing, Restart Proxy shows MESSAGE and goes on.
restart_without_brindle() {
  local before message=$2
  mv "$program_dir/Brindle.exe" "$program_dir/Brindle.away"
  before=$(mark "$session")
  choose $menu_restart_proxy || true
  if wait_until 15 window_shown Tollwick; then
    screenshot "$1"
    check "Restart Proxy without Brindle.exe says: $message" \
      wait_until 10 eval 'since "$session" "$before" | grep -qaF "MSGBOX_OnInit L\"$message\\n\""'
    press_in Tollwick Return || true
    check "the program keeps running after the error" eval 'wait_until 10 window_gone Tollwick && running "$program_pid"'
  else
    fail "Restart Proxy without Brindle.exe shows an error box titled Tollwick"
  fi
  mv "$program_dir/Brindle.away" "$program_dir/Brindle.exe"
}
check "Brindle.exe started by hand restarts the running service and exits with code 0" \
  eval 'start_service && journal_before=$(wc -l <"$journal") && timeout 60 wine "$program_dir/Brindle.exe" >>"$out/brindle.log" 2>&1 &&
    wait_until 15 restarted_since "$journal_before"'
restart_proxy "default Windows version" directly
restart_without_brindle restart-error "Error: CreateProcess failed 0x2"

check "the icon comes back when a new taskbar is announced" \
  eval 'probe drop-icon && wait_until 10 tray_hidden && probe taskbar-created && wait_until 10 tray_visible'

choose $menu_exit || true
check "Exit removes the icon" wait_until 15 tray_hidden
check "Exit ends the program with code 0" eval 'wait_until 15 stopped "$program_pid" && wait "$program_pid"'
stop_all

# --- Windows 6.0: Restart Proxy asks for elevation

windows_version=$(timeout 60 wine winecfg -v 2>/dev/null | tr -d '\r')
timeout 60 wine winecfg -v vista >/dev/null 2>&1
session=$out/session-vista.log
start_program session-vista "$trace"
if wait_until 30 tray_visible; then
  restart_proxy "Windows 6.0" elevated
  restart_without_brindle restart-error-vista "Error: ShellExecuteEx failed 0x2"
else
  fail "interactive start on Windows 6.0: the tray icon appears"
fi
stop_all
timeout 60 wine winecfg -v "${windows_version:-win10}" >/dev/null 2>&1
# Every Windows process has ended, so no late second address can come.
check "the browser was asked for one address in the whole run" eval '[ "$(cat "$urls")" = "http://admin.tollwick/" ]'

echo "screenshots and logs: $out"
if [ "$failures" -ne 0 ]; then
  echo "wine suite: $failures failed"
  exit 1
fi
echo "wine suite: all passed"
