# What the screenshot scripts share; sourced by them from the project's folder (set -euo pipefail is theirs).
#
#   screen_start WxH          an Xvfb of that size, with settings and a runtime folder of its own in $work,
#                             all removed on exit together with $app and $sim
#   simulator_start           the programmer simulator, and the window's settings pointed at its device
#   main_window_wait NAME     waits for the main window (sets $main) and moves it to 8,8; NAME names the script
#                             in a failure

work=
app=
sim=
xvfb=
screenshot_cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    [ -n "$work" ] && rm -rf "$work"
    return 0
}
trap screenshot_cleanup EXIT

screen_start() {
    # A folder name that reads well where the window shows a path.
    work=$(mktemp -d /tmp/projects.XXXXXX)
    local display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    mkdir -m 700 "$work/runtime"
    export DISPLAY=$display XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
}

simulator_start() {
    ./build/chipwright-sim --exit-after-idle 60000 >"$work/sim.out" 2>/dev/null &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    local device registry
    device=$(head -n 1 "$work/sim.out")
    registry=$XDG_CONFIG_HOME/chipwright/registry/HKEY_CURRENT_USER
    mkdir -p "$registry/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort" \
        "$registry$(pwd -P)/build/Program.ini/HexFileOpen"
    printf '"Port"="%s"\n' "$device" >"$registry/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/values.reg"
    printf '"ComSeted"="1"\n' >"$registry$(pwd -P)/build/Program.ini/HexFileOpen/values.reg"
}

main_window_wait() {
    main=
    for _ in $(seq 50); do
        main=$(xdotool search --name "Chipwright V2.0" 2>/dev/null | head -1) && [ -n "$main" ] && break
        sleep 0.2
    done
    [ -n "$main" ] || { echo "$1: the main window did not appear" >&2; exit 1; }
    xdotool windowmove "$main" 8 8
}
