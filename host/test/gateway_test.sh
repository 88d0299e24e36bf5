#!/usr/bin/env bash
# zunservice as a network's gateway filter, in four network namespaces: a child's computer (192.168.1.10), a
# computer the policy does not know (192.168.1.11), the gateway running zunservice behind the rules of
# cfg/gateway.nft, and a site (10.77.0.2) with web pages on ports 80, 443 and 8080 and a UDP echo on 5555.
# The child's browser is set to no proxy; the gateway's firewall hands its web connections to the filter and
# lets other traffic through only as the policy allows each computer now.
#   gateway_test.sh ZUNSERVICE BUILT_CFG_DIR TOLLWICK_POLICY GATEWAY_NFT
# Needs root, ip, nft, curl and openssl; exits 77 (skipped) without them.
set -euo pipefail
zunservice=$1 cfg=$2 policy=$3 rules=$4
port=8009 allowed=homework.example blocked_http=games.example blocked_https=casino.example

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "network namespaces and nftables need root"
for tool in ip nft curl openssl ss /usr/bin/python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps installs it)"
done

work=$(mktemp -d /tmp/tollwick-gateway-XXXXXX)
client=tollwick-client-$$ stranger=tollwick-stranger-$$ gateway=tollwick-gateway-$$ site=tollwick-site-$$
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  for ns in "$client" "$stranger" "$gateway" "$site"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAILED: $*"
  echo "--- zunservice output:"; cat "$work/out.txt" "$work/err.txt" 2>/dev/null || true
  echo "--- access log:"; cat "$work/log/access/log.txt" 2>/dev/null || true
  echo "--- site log:"; cat "$work/site.log" 2>/dev/null || true
  echo "--- curl's last error:"; cat "$work/curl.err" 2>/dev/null || true
  exit 1
}
# Polls a command for up to ten seconds.
wait_for() {
  local what=$1; shift
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  fail "no $what within ten seconds"
}
listens() { [ -n "$(ip netns exec "$1" ss -Hltn "sport = :$2")" ]; }

# The policy of the sample, with the restricted group's time table and limits off so the hour does not matter.
cp -r "$cfg" "$work/cfg"
sed -i -E 's#<(istimetableenabled|timelimitsenabled|trafficlimitsenabled)>1<#<\1>0<#g' "$work/cfg/zun_data.xml"
expect_policy() {
  local answer
  answer=$("$policy" --config "$work/cfg" check 192.168.1.10 "$2") || true
  [[ $answer == "$1"* ]] || fail "tollwick-policy says '$answer' for $2, expected '$1'"
}
for scheme in http https; do expect_policy allowed "$scheme://$allowed/"; done
expect_policy refused "http://$blocked_http/"
expect_policy refused "https://$blocked_https/"

# The network: client and stranger -- (lan0, lan1 on the bridge lan) gateway (wan0) -- site.
for ns in "$client" "$stranger" "$gateway" "$site"; do
  ip netns add "$ns" 2>/dev/null || skip "cannot create network namespaces"
  ip -n "$ns" link set lo up
done
ip -n "$gateway" link add lan type bridge
ip -n "$gateway" link add lan0 type veth peer name eth0 netns "$client"
ip -n "$gateway" link add lan1 type veth peer name eth0 netns "$stranger"
ip -n "$gateway" link add wan0 type veth peer name eth0 netns "$site"
ip -n "$gateway" link set lan0 master lan
ip -n "$gateway" link set lan1 master lan
ip -n "$gateway" addr add 192.168.1.1/24 dev lan
ip -n "$gateway" addr add 10.77.0.1/24 dev wan0
ip -n "$client" addr add 192.168.1.10/24 dev eth0
ip -n "$stranger" addr add 192.168.1.11/24 dev eth0
ip -n "$site" addr add 10.77.0.2/24 dev eth0
for link in lan lan0 lan1 wan0; do ip -n "$gateway" link set "$link" up; done
for ns in "$client" "$stranger" "$site"; do ip -n "$ns" link set eth0 up; done
ip -n "$client" route add default via 192.168.1.1
ip -n "$stranger" route add default via 192.168.1.1
ip -n "$site" route add default via 10.77.0.1
ip netns exec "$gateway" sysctl -qw net.ipv4.ip_forward=1
sed -E -e 's/^define lan = .*/define lan = "lan"/' -e 's/^define wan = .*/define wan = "wan0"/' \
  -e "s/^define tollwick_port = .*/define tollwick_port = $port/" "$rules" >"$work/gateway.nft"
ip netns exec "$gateway" nft -f "$work/gateway.nft" || fail "nft did not load the gateway's rules"

# The site: a page on port 80 and on 443, the latter logging each connection it accepts and each handshake.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=site -keyout "$work/key.pem" -out "$work/cert.pem" \
  2>/dev/null
cat >"$work/site.py" <<'EOF'
import http.server, ssl, sys, threading
work = sys.argv[1]
log = open(work + "/site.log", "a", buffering=1)
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ("site page for %s%s\n" % (self.headers["Host"], self.path)).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *arguments):
        pass
names = []
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(work + "/cert.pem", work + "/key.pem")
context.sni_callback = lambda tls, name, context: names.append(name)
class Secure(http.server.ThreadingHTTPServer):
    def get_request(self):
        raw, address = self.socket.accept()
        log.write("accepted %s:%d\n" % address)
        raw.settimeout(5)
        names.clear()
        tls = context.wrap_socket(raw, server_side=True)
        log.write("handshake %s:%d %s\n" % (*address, names[-1] if names else "-"))
        return tls, address
import socket
def echo():
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("0.0.0.0", 5555))
    while True:
        data, address = udp.recvfrom(2048)
        udp.sendto(data, address)
threading.Thread(target=echo, daemon=True).start()
for web in (80, 8080):
    threading.Thread(target=http.server.ThreadingHTTPServer(("0.0.0.0", web), Page).serve_forever, daemon=True).start()
Secure(("0.0.0.0", 443), Page).serve_forever()
EOF
ip netns exec "$site" /usr/bin/python3 "$work/site.py" "$work" 2>"$work/site.err" & pids+=($!)
wait_for "site on port 80" listens "$site" 80
wait_for "site on port 443" listens "$site" 443
wait_for "site on port 8080" listens "$site" 8080

ip netns exec "$gateway" "$zunservice" -C "$work" --threads 2 --listen 127.0.0.1:0 \
  --proxy.transparent_listen "0.0.0.0:$port" --gateway.nft_table tollwick >"$work/out.txt" 2>"$work/err.txt" &
pids+=($!)
wait_for "'listening on' from zunservice" grep -q "^listening on" "$work/out.txt"
wait_for "transparent listener on port $port" listens "$gateway" "$port"

# Fetches a URL from the client's computer and checks the status (000: no answer) and a text of the body.
expect() {
  local status=$1 text=$2 url=$3 name=${3#*://} code body
  name=${name%%/*}
  code=$(ip netns exec "$client" curl -sSk --noproxy '*' --max-time 5 --resolve "$name:80:10.77.0.2" \
    --resolve "$name:443:10.77.0.2" -o "$work/body" -w '%{http_code}' "$url" 2>"$work/curl.err") || true
  body=$(cat "$work/body" 2>/dev/null || true); rm -f "$work/body"
  [[ $code == "$status" && $body == *"$text"* ]] || fail "$url: status $code (expected $status), body: $body"
}
accepted() { grep -c '^accepted' "$work/site.log" || true; }

expect 200 "site page for $allowed/lessons" "http://$allowed/lessons"
expect 403 "This page is blocked" "http://$blocked_http/play"
before=$(accepted)
expect 200 "site page for $allowed/lessons" "https://$allowed/lessons"
grep -q "^handshake .* $allowed\$" "$work/site.log" || fail "the site saw no handshake for $allowed"
[ "$(accepted)" -eq $((before + 1)) ] || fail "the site accepted $(($(accepted) - before)) connections for one page"
before=$(accepted)
expect 000 "" "https://$blocked_https/"

# The refusals are in the access log with their reasons (blanks written as "_").
access=$work/log/access/log.txt
wait_for "refusal of $blocked_http in the access log" \
  grep -q "http://$blocked_http/play.*refused.*Customer_Blocked_Sites_List" "$access"
wait_for "refusal of $blocked_https in the access log" grep -q "refused.*$blocked_https.*Gambling" "$access"
wait_for "$allowed by name in the access log" grep -q "https://$allowed:443/"$'\t'"200" "$access"
# Once the refusal is logged the connection is decided: the site must not have seen it.
[ "$(accepted)" -eq "$before" ] || fail "the site accepted a connection for the blocked $blocked_https"
echo "gateway: allowed and blocked pages over http and https as expected"

# Other traffic from a computer ($1): what a site on port 8080 answers (000: nothing), and whether the UDP
# echo answers ("echo" or "none").
other_traffic() {
  local code echoed
  code=$(ip netns exec "$1" curl -s --noproxy '*' --max-time 2 -o /dev/null -w '%{http_code}' \
    http://10.77.0.2:8080/ 2>/dev/null) || true
  echoed=$(ip netns exec "$1" /usr/bin/python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1)
s.sendto(b"ping", ("10.77.0.2", 5555))
try:
    print("echo" if s.recv(16) == b"ping" else "none")
except OSError:
    print("none")')
  echo "$code $echoed"
}
# Waits up to ten seconds for a computer's other traffic to be as expected.
expect_other() {
  local seen until=$((SECONDS + 10))
  while [ "$SECONDS" -lt "$until" ]; do
    seen=$(other_traffic "$1")
    [ "$seen" = "$2" ] && return 0
    sleep 0.2
  done
  echo "--- the gateway's sets:"; ip netns exec "$gateway" nft list table ip tollwick | grep -A2 'set ' || true
  fail "$3: other traffic of $1 is '$seen', expected '$2'"
}
# Changes the policy file as another program would; the service reads it within a second.
edit_policy() { sed -i -E "$1" "$work/cfg/zun_data.xml"; }

expect_other "$client" "000 none" "a filtered group"
group3='/<name>\* restricted users \*<\/name>/,/<\/clientgroup>/'
edit_policy "${group3}s#<blockedcategoriesmask>#<isothertrafficenabled>1</isothertrafficenabled><blockedcategoriesmask>#"
expect_other "$client" "200 echo" "the group with other traffic on"
edit_policy "${group3}s#<blockedcategoriesmask>#<pauseduntil>$(($(date +%s) + 3600))</pauseduntil><blockedcategoriesmask>#"
expect_other "$client" "000 none" "the group paused"
expect 403 "paused until" "http://$allowed/lessons"
edit_policy 's#<pauseduntil>[0-9]*</pauseduntil>##'
expect_other "$client" "200 echo" "the group resumed"
expect_other "$stranger" "000 none" "a computer the policy does not know"
code=$(ip netns exec "$stranger" curl -s --noproxy '*' --max-time 5 --resolve "$allowed:80:10.77.0.2" \
  "http://$allowed/" 2>/dev/null) || true
[[ $code == *"is in no group of the filter yet"* ]] || fail "the unknown computer got '$code', not the blocking page"
echo "gateway: other traffic follows the policy: off, on, paused, resumed, and nothing for an unknown computer"
