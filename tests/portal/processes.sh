# SPDX-License-Identifier: MIT
# Starting and stopping the programs of a scratch desktop session, for the portal scripts
# (session.sh, real_compositor.sh). Sourced; every function works in folder $DIR, and the ids
# of what it starts are kept in $DIR/pids, one "PID NAME" line each.

# first_missing TOOL..: prints the first TOOL not installed (exit 0), or exits 1.
first_missing() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "$tool"; return 0; }
    done
    return 1
}

# run NAME COMMAND..: starts a program in the background with the session's environment,
# output to DIR/NAME.log, its id appended to DIR/pids.
run() {
    local name=$1
    shift
    "$@" >"$DIR/$name.log" 2>&1 &
    echo "$! $name" >>"$DIR/pids"
}

wait_for() {
    local what=$1 tries=0
    shift
    until "$@" >/dev/null 2>&1; do
        if ((tries++ > 100)); then
            echo "session: $what did not come up (logs in $DIR)" >&2
            return 1
        fi
        sleep 0.1
    done
}

has_owner() {
    dbus-send --bus="$1" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$2" | grep -q 'boolean true'
}

# stop: ends what DIR/pids names.
stop() {
    [[ -f $DIR/pids ]] || return 0
    local pid name tries stopping=()
    # Each by its own id, newest first; then each is given 3 s to end (all at once, not one
    # after another) before it is killed.
    while read -r pid name; do
        kill "$pid" 2>/dev/null && stopping+=("$pid")
    done < <(tac "$DIR/pids")
    for pid in "${stopping[@]}"; do
        tries=0
        while kill -0 "$pid" 2>/dev/null && ((tries++ < 30)); do sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    done
    rm -f "$DIR/pids"
}
