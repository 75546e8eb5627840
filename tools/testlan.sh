#!/usr/bin/env bash
# A LAN of network namespaces for end-to-end tests of marindo against simulated clocks.
#
#   testlan.sh [--prefix P] check
#   testlan.sh [--prefix P] up [--scale [--routed]] CONFIG
#   testlan.sh [--prefix P] exec CMD...              run CMD in the tool's namespace
#   testlan.sh [--prefix P] clock-exec NAME CMD...   run CMD in the namespace of clock NAME
#   testlan.sh [--prefix P] readdress NAME NEWIP     move clock NAME to another address
#   testlan.sh [--prefix P] ctl NAME ARGS...         clocksimctl.py for clock NAME (faults, set, send...)
#   testlan.sh [--prefix P] info                     names, addresses and files of the running LAN
#   testlan.sh [--prefix P] down
#   testlan.sh [--prefix P] with-lan [--scale [--routed]] CONFIG -- CMD...
#
# Namespaces: P-br holds the bridge, P-tool the tool (10.213.0.1/16 on eth0),
# P-c-NAME one clock each (P-scale all clocks in scale mode). The subnet
# 10.213.0.0/16 exists only inside them: no route leads to or from the host's
# interfaces. The prefix comes from --prefix or TESTLAN_PREFIX (default mlan);
# the run folder from TESTLAN_RUN (default /tmp/testlan-P) and holds each
# simulator's config, record, state, control socket and log, and tftp/.
#
# A routed site (--scale --routed): the clocks of P-scale live on a subnet of
# their own, the config's addresses and "prefix" (clear of 10.213.0.0/16),
# behind the router namespace P-rt, which forwards between its leg on the
# bridge (eth0, 10.213.0.254/16) and a veth pair to P-scale (eth1, the last
# host address of the clocks' subnet, which no clock may take). The tool's
# namespace reaches the subnet via 10.213.0.254, P-scale has its default
# route via the router; a broadcast on the LAN does not cross the router.
# Scale mode raises the machine's neighbour table limits (kept for the whole
# machine by the kernel, not per namespace) so that a sweep of every address
# of a /16 does not crowd out the clocks' entries; the last scale LAN's `down`
# puts them back.
#
# Exit status 77 means the machine cannot host the LAN (not root, no ip
# netns, no veth or bridge); the reason is printed.

set -euo pipefail

readonly SKIP=77
readonly TOOL_IP=10.213.0.1
readonly PREFIX_LENGTH=16
readonly BROADCAST=10.213.255.255
readonly ROUTER_LAN_IP=10.213.0.254
readonly ROUTER_LAN_MAC=02:13:0a:d5:00:fe
readonly ROUTER_SITE_MAC=02:13:fe:00:00:01
# Room for a sweep of a /16 at 10000 datagrams a second: each empty address
# holds an unresolved entry in the router for the seconds its ARP tries take.
readonly NEIGH_LIMITS=(32768 65536 131072)
readonly NEIGH_SYSCTL=/proc/sys/net/ipv4/neigh/default
# The machine's own limits, kept while any scale LAN (of any prefix) is up; like
# the limits themselves, the file does not outlive a reboot.
readonly NEIGH_SAVED=/run/testlan-neigh-limits
readonly READY_SECONDS=15
TOOLS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly TOOLS_DIR
readonly CLOCKSIM_DIR=$TOOLS_DIR/clocksim
# The system interpreter when there is one: a version manager's shim costs
# most of a second per call, and the tests call the control command often.
if [ -z "${PYTHON:-}" ] && [ -x /usr/bin/python3 ]; then PYTHON=/usr/bin/python3; fi
PYTHON=${PYTHON:-python3}
export PYTHONDONTWRITEBYTECODE=1

PREFIX=${TESTLAN_PREFIX:-mlan}

die() {
    echo "testlan: $*" >&2
    exit 1
}

skip() {
    echo "testlan: SKIP: $*" >&2
    exit "$SKIP"
}

set_names() {
    [[ $PREFIX =~ ^[a-z0-9]{1,12}$ ]] || die "prefix '$PREFIX': 1 to 12 lower-case letters or digits"
    RUN=${TESTLAN_RUN:-/tmp/testlan-$PREFIX}
    BRIDGE_NS=$PREFIX-br
    TOOL_NS=$PREFIX-tool
    ROUTER_NS=$PREFIX-rt
}

sim_namespace() {
    if [[ $1 == scale ]]; then echo "$PREFIX-scale"; else echo "$PREFIX-c-$1"; fi
}

# --- what the machine must offer --------------------------------------------

require_lan_support() {
    [[ $(id -u) -eq 0 ]] || skip "needs root to create network namespaces"
    command -v ip >/dev/null || skip "iproute2 ('ip') is not installed"
    ip netns list >/dev/null 2>&1 || skip "'ip netns' does not work here"
    command -v "$PYTHON" >/dev/null || skip "$PYTHON is not installed"
    local probe=$PREFIX-probe
    ip netns del "$probe" 2>/dev/null || true
    ip netns add "$probe" 2>/dev/null || skip "cannot create a network namespace (no CAP_SYS_ADMIN?)"
    local reason=""
    ip -n "$probe" link add probebr type bridge 2>/dev/null || reason="cannot create a bridge"
    if [[ -z $reason ]]; then
        ip -n "$probe" link add probea type veth peer name probeb 2>/dev/null || reason="cannot create a veth pair"
    fi
    ip netns del "$probe"
    [[ -z $reason ]] || skip "$reason"
}

# --- building the LAN ---------------------------------------------------------

quiet_namespace() {
    # No IPv6 chatter: the LAN carries only what the tests send.
    ip netns exec "$1" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
        >/dev/null 2>&1 || true
    # Removing a clock's first address must not take the other clocks' addresses of the subnet with it.
    ip netns exec "$1" sysctl -qw net.ipv4.conf.all.promote_secondaries=1 \
        net.ipv4.conf.default.promote_secondaries=1 >/dev/null
    ip -n "$1" link set lo up
}

new_namespace() {
    ip netns add "$1"
    quiet_namespace "$1"
}

# Joins namespace $1 to the bridge by a veth pair: eth0 there, $2 in the bridge namespace.
attach_to_bridge() {
    local namespace=$1 port=$2 mac=${3:-}
    ip -n "$BRIDGE_NS" link add "$port" type veth peer name eth0 netns "$namespace"
    [[ -z $mac ]] || ip -n "$namespace" link set eth0 address "$mac"
    ip -n "$BRIDGE_NS" link set "$port" master br0 up
    ip -n "$namespace" link set eth0 up
}

build_bridge_and_tool() {
    new_namespace "$BRIDGE_NS"
    ip -n "$BRIDGE_NS" link add br0 type bridge stp_state 0 forward_delay 0
    ip -n "$BRIDGE_NS" link set br0 up
    new_namespace "$TOOL_NS"
    attach_to_bridge "$TOOL_NS" pt
    ip -n "$TOOL_NS" addr add "$TOOL_IP/$PREFIX_LENGTH" brd + dev eth0
}

# The kernel keeps one neighbour table for all namespaces, its limits settable
# only from the machine's own namespace: a thousand clocks, or a sweep through
# a router, need more than the usual 1024 entries. Limits are only raised; the
# first scale LAN to raise them keeps the machine's values in NEIGH_SAVED.
raise_neighbour_limits() {
    if [[ ! -w $NEIGH_SYSCTL/gc_thresh3 ]]; then
        echo "testlan: cannot raise the neighbour table limits here; a sweep may lose datagrams" >&2
        return 0
    fi
    local index name current saved=""
    for index in 1 2 3; do
        name=gc_thresh$index
        current=$(cat "$NEIGH_SYSCTL/$name")
        saved+="$name $current"$'\n'
        if ((current < NEIGH_LIMITS[index - 1])); then echo "${NEIGH_LIMITS[index - 1]}" >"$NEIGH_SYSCTL/$name"; fi
    done
    [[ -e $NEIGH_SAVED ]] || printf '%s' "$saved" >"$NEIGH_SAVED"
    touch "$RUN/neigh-limits.raised"
}

# The machine's values back once the last scale LAN, of whatever prefix, is down.
restore_neighbour_limits() {
    [[ -e $RUN/neigh-limits.raised ]] || return 0
    rm -f "$RUN/neigh-limits.raised"
    if [[ ! -e $NEIGH_SAVED ]] || ip netns list 2>/dev/null | awk '{print $1}' | grep -qE -- '-(scale|rt)$'; then
        return 0
    fi
    local name value
    while read -r name value; do
        [[ $name =~ ^gc_thresh[123]$ && $value =~ ^[0-9]+$ ]] || continue
        echo "$value" >"$NEIGH_SYSCTL/$name" 2>/dev/null || true
    done <"$NEIGH_SAVED"
    rm -f "$NEIGH_SAVED"
}

site_value() {
    awk -v k="$1" '$1 == k {print $2; exit}' "$RUN/site.txt"
}

is_routed() {
    [[ -e $RUN/site.txt ]]
}

# The router between the LAN and the clocks' subnet, and P-scale on its far leg.
build_router_and_site() {
    local subnet prefix_length router_ip namespace
    subnet=$(site_value subnet)
    prefix_length=$(site_value prefix)
    router_ip=$(site_value router)
    namespace=$(sim_namespace scale)
    new_namespace "$ROUTER_NS"
    attach_to_bridge "$ROUTER_NS" prt "$ROUTER_LAN_MAC"
    ip -n "$ROUTER_NS" addr add "$ROUTER_LAN_IP/$PREFIX_LENGTH" brd + dev eth0
    new_namespace "$namespace"
    ip -n "$ROUTER_NS" link add eth1 address "$ROUTER_SITE_MAC" type veth peer name eth0 netns "$namespace"
    ip -n "$namespace" link set eth0 address "$(awk '$4 == "scale" {print $3; exit}' "$RUN/plan.txt")"
    ip -n "$ROUTER_NS" addr add "$router_ip/$prefix_length" brd + dev eth1
    ip -n "$ROUTER_NS" link set eth1 up
    ip -n "$namespace" link set eth0 up
    ip netns exec "$ROUTER_NS" sysctl -qw net.ipv4.ip_forward=1 >/dev/null
    awk -v len="$prefix_length" '$4 == "scale" {print "address add " $2 "/" len " brd + dev eth0"}' \
        "$RUN/plan.txt" | ip -n "$namespace" -batch -
    ip -n "$namespace" route add default via "$router_ip" dev eth0
    ip -n "$TOOL_NS" route add "$subnet" via "$ROUTER_LAN_IP" dev eth0
}

build_clock_namespaces() {
    local index=0 sim namespace
    while read -r sim; do
        index=$((index + 1))
        namespace=$(sim_namespace "$sim")
        new_namespace "$namespace"
        attach_to_bridge "$namespace" "p$index" "$(awk -v s="$sim" '$4 == s {print $3; exit}' "$RUN/plan.txt")"
        awk -v s="$sim" -v len="$PREFIX_LENGTH" '$4 == s {print "address add " $2 "/" len " brd + dev eth0"}' \
            "$RUN/plan.txt" | ip -n "$namespace" -batch -
    done < <(awk '{print $4}' "$RUN/plan.txt" | uniq)
}

start_simulator() {
    local sim=$1 namespace
    namespace=$(sim_namespace "$sim")
    ip netns exec "$namespace" "$PYTHON" "$CLOCKSIM_DIR/clocksim.py" --config "$RUN/$sim.json" \
        --record "$RUN/$sim.record.jsonl" --state "$RUN/$sim.state.json" --tftp-root "$RUN/tftp" \
        --control "$RUN/$sim.ctl" --ready-file "$RUN/$sim.ready" \
        </dev/null >"$RUN/$sim.log" 2>&1 &
    echo $! >"$RUN/$sim.pid"
}

wait_until_ready() {
    local sim deadline=$((SECONDS + READY_SECONDS))
    for sim in $(simulators); do
        until [[ -e $RUN/$sim.ready ]]; do
            if ! kill -0 "$(cat "$RUN/$sim.pid")" 2>/dev/null; then
                cat "$RUN/$sim.log" >&2
                die "simulator $sim ended before it was ready"
            fi
            ((SECONDS < deadline)) || die "simulator $sim not ready after $READY_SECONDS s"
            sleep 0.1
        done
    done
}

simulators() {
    awk '{print $4}' "$RUN/plan.txt" | uniq
}

cmd_up() {
    local mode=()
    while [[ ${1:-} == --scale || ${1:-} == --routed ]]; do
        mode+=("$1")
        shift
    done
    [[ $# -eq 1 ]] || die "usage: up [--scale [--routed]] CONFIG"
    if [[ " ${mode[*]} " == *" --routed "* && " ${mode[*]} " != *" --scale "* ]]; then
        die "--routed needs --scale: the routed site's clocks share one namespace behind the router"
    fi
    local config
    config=$(realpath "$1")
    require_lan_support
    cmd_down >/dev/null 2>&1 || true
    rm -rf "$RUN"
    mkdir -p "$RUN/tftp"
    "$PYTHON" "$CLOCKSIM_DIR/lanplan.py" "$config" "$RUN" "${mode[@]}" >"$RUN/plan.txt" || exit 1
    if [[ ${#mode[@]} -gt 0 ]]; then raise_neighbour_limits; fi
    build_bridge_and_tool
    if is_routed; then build_router_and_site; else build_clock_namespaces; fi
    local sim
    for sim in $(simulators); do start_simulator "$sim"; done
    wait_until_ready
    echo "testlan: up, prefix $PREFIX, $(wc -l <"$RUN/plan.txt") clocks, run folder $RUN"
    if is_routed; then
        echo "testlan: clocks on $(site_value subnet) behind router $ROUTER_NS" \
            "($ROUTER_LAN_IP on the LAN, $(site_value router) on the clocks' subnet)"
    fi
}

# --- taking it down -------------------------------------------------------------

our_namespaces() {
    ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$PREFIX-(br|tool|scale|rt|c-[A-Za-z0-9_]+)\$" || true
}

is_our_simulator() {
    tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -qF -- "clocksim.py --config $RUN/"
}

stop_simulators() {
    local pid_file pid
    for pid_file in "$RUN"/*.pid; do
        [[ -e $pid_file ]] || continue
        pid=$(cat "$pid_file")
        if is_our_simulator "$pid"; then
            kill -TERM "$pid" 2>/dev/null || true
            for _ in $(seq 30); do
                is_our_simulator "$pid" || break
                sleep 0.1
            done
            ! is_our_simulator "$pid" || kill -KILL "$pid" 2>/dev/null || true
        fi
        rm -f "$pid_file"
    done
}

# Processes started inside our namespaces (a test that outlived its run) end with them.
stop_namespace_processes() {
    local namespace pid
    for namespace in $(our_namespaces); do
        for pid in $(ip netns pids "$namespace" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null || true
        done
    done
}

cmd_down() {
    [[ $(id -u) -eq 0 ]] || skip "needs root to remove network namespaces"
    stop_simulators
    stop_namespace_processes
    local namespace
    for namespace in $(our_namespaces); do
        ip netns del "$namespace"
    done
    restore_neighbour_limits
    echo "testlan: down, prefix $PREFIX (records kept in $RUN)"
}

# --- using a running LAN ----------------------------------------------------------

require_up() {
    if [[ ! -e $RUN/plan.txt ]] || ! our_namespaces | grep -qx "$TOOL_NS"; then
        die "no LAN with prefix $PREFIX is up (run folder $RUN)"
    fi
}

clock_field() {
    local name=$1 column=$2 value
    value=$(awk -v n="$name" -v c="$column" '$1 == n {print $c; exit}' "$RUN/plan.txt")
    [[ -n $value ]] || die "no clock '$name' (see: testlan.sh info)"
    echo "$value"
}

export_lan_environment() {
    export TESTLAN_PREFIX=$PREFIX TESTLAN_RUN=$RUN TESTLAN_TOOL_IP=$TOOL_IP TESTLAN_BROADCAST=$BROADCAST
    if is_routed; then
        TESTLAN_CLOCK_SUBNET=$(site_value subnet)
        export TESTLAN_ROUTER_IP=$ROUTER_LAN_IP TESTLAN_CLOCK_SUBNET
    fi
}

cmd_exec() {
    [[ $# -ge 1 ]] || die "usage: exec CMD..."
    require_up
    export_lan_environment
    ip netns exec "$TOOL_NS" "$@"
}

cmd_clock_exec() {
    [[ $# -ge 2 ]] || die "usage: clock-exec NAME CMD..."
    require_up
    local namespace
    namespace=$(sim_namespace "$(clock_field "$1" 4)")
    shift
    export_lan_environment
    ip netns exec "$namespace" "$@"
}

cmd_ctl() {
    [[ $# -ge 2 ]] || die "usage: ctl NAME ARGS..."
    require_up
    local sim ip
    sim=$(clock_field "$1" 4)
    ip=$(clock_field "$1" 2)
    shift
    "$PYTHON" "$CLOCKSIM_DIR/clocksimctl.py" --socket "$RUN/$sim.ctl" --clock "$ip" "$@"
}

cmd_readdress() {
    [[ $# -eq 2 ]] || die "usage: readdress NAME NEWIP"
    require_up
    local name=$1 new_ip=$2 old_ip sim namespace length=$PREFIX_LENGTH
    if is_routed; then
        length=$(site_value prefix)
        "$PYTHON" -c 'import ipaddress, sys
a, net, router = ipaddress.ip_address(sys.argv[1]), ipaddress.ip_network(sys.argv[2]), sys.argv[3]
sys.exit(a not in net or a in (net.network_address, net.broadcast_address) or str(a) == router)' \
            "$new_ip" "$(site_value subnet)" "$(site_value router)" 2>/dev/null ||
            die "$new_ip is not a clock address of $(site_value subnet) (the router has $(site_value router))"
    else
        [[ $new_ip =~ ^10\.213\.[0-9]{1,3}\.[0-9]{1,3}$ && $new_ip != "$TOOL_IP" ]] ||
            die "$new_ip is not a clock address of 10.213.0.0/16"
    fi
    ! awk '{print $2}' "$RUN/plan.txt" | grep -qx "$new_ip" || die "$new_ip belongs to another clock"
    old_ip=$(clock_field "$name" 2)
    sim=$(clock_field "$name" 4)
    namespace=$(sim_namespace "$sim")
    # The new address exists before the simulator binds to it; the old one goes last.
    ip -n "$namespace" addr add "$new_ip/$length" brd + dev eth0
    "$PYTHON" "$CLOCKSIM_DIR/clocksimctl.py" --socket "$RUN/$sim.ctl" --clock "$old_ip" readdress "$new_ip"
    ip -n "$namespace" addr del "$old_ip/$length" dev eth0
    awk -v n="$name" -v ip="$new_ip" '$1 == n {$2 = ip} {print}' "$RUN/plan.txt" >"$RUN/plan.txt.new"
    mv "$RUN/plan.txt.new" "$RUN/plan.txt"
    echo "testlan: $name moved from $old_ip to $new_ip"
}

cmd_info() {
    require_up
    echo "TESTLAN_PREFIX=$PREFIX"
    echo "TESTLAN_RUN=$RUN"
    echo "TESTLAN_TOOL_NS=$TOOL_NS"
    echo "TESTLAN_TOOL_IP=$TOOL_IP"
    echo "TESTLAN_BROADCAST=$BROADCAST"
    if is_routed; then
        echo "TESTLAN_ROUTER_NS=$ROUTER_NS"
        echo "TESTLAN_ROUTER_IP=$ROUTER_LAN_IP"
        echo "TESTLAN_CLOCK_SUBNET=$(site_value subnet)"
        echo "TESTLAN_CLOCK_GATEWAY=$(site_value router)"
    fi
    local name ip mac sim
    while read -r name ip mac sim; do
        echo "clock $name ip=$ip mac=$mac ns=$(sim_namespace "$sim") record=$RUN/$sim.record.jsonl" \
            "state=$RUN/$sim.state.json control=$RUN/$sim.ctl tftp=$RUN/tftp/$ip"
    done <"$RUN/plan.txt"
}

cmd_with_lan() {
    local up_args=()
    while [[ $# -gt 0 && $1 != -- ]]; do
        up_args+=("$1")
        shift
    done
    [[ ${1:-} == -- && $# -ge 2 ]] || die "usage: with-lan [--scale [--routed]] CONFIG -- CMD..."
    shift
    trap 'cmd_down >/dev/null 2>&1 || true' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    cmd_up "${up_args[@]}"
    local status=0
    cmd_exec "$@" || status=$?
    return "$status"
}

main() {
    if [[ ${1:-} == --prefix ]]; then
        [[ $# -ge 2 ]] || die "--prefix needs a value"
        PREFIX=$2
        shift 2
    fi
    set_names
    local command=${1:-}
    [[ $# -gt 0 ]] && shift
    case $command in
        check) require_lan_support; echo "testlan: this machine can host the LAN" ;;
        up) cmd_up "$@" ;;
        down) cmd_down ;;
        exec) cmd_exec "$@" ;;
        clock-exec) cmd_clock_exec "$@" ;;
        ctl) cmd_ctl "$@" ;;
        readdress) cmd_readdress "$@" ;;
        info) cmd_info ;;
        with-lan) cmd_with_lan "$@" ;;
        *) sed -n '2,/^$/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
    esac
}

main "$@"
