#!/usr/bin/env bash
# zunservice as a network's gateway filter, in three network namespaces: a child's computer (192.168.1.10),
# the gateway running zunservice behind the rules of cfg/gateway.nft, and a web site (10.77.0.2) on ports 80
# and 443. The child's browser is set to no proxy; the gateway's firewall hands its connections to the filter.
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
client=tollwick-client-$$ gateway=tollwick-gateway-$$ site=tollwick-site-$$
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  for ns in "$client" "$gateway" "$site"; do ip netns del "$ns" 2>/dev/null || true; done
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

# The network: client -- (lan0) gateway (wan0) -- site.
for ns in "$client" "$gateway" "$site"; do
  ip netns add "$ns" 2>/dev/null || skip "cannot create network namespaces"
  ip -n "$ns" link set lo up
done
ip -n "$gateway" link add lan0 type veth peer name eth0 netns "$client"
ip -n "$gateway" link add wan0 type veth peer name eth0 netns "$site"
ip -n "$gateway" addr add 192.168.1.1/24 dev lan0
ip -n "$gateway" addr add 10.77.0.1/24 dev wan0
ip -n "$client" addr add 192.168.1.10/24 dev eth0
ip -n "$site" addr add 10.77.0.2/24 dev eth0
ip -n "$gateway" link set lan0 up
ip -n "$gateway" link set wan0 up
ip -n "$client" link set eth0 up
ip -n "$site" link set eth0 up
ip -n "$client" route add default via 192.168.1.1
ip -n "$site" route add default via 10.77.0.1
ip netns exec "$gateway" sysctl -qw net.ipv4.ip_forward=1
sed -E -e 's/^define lan = .*/define lan = "lan0"/' -e 's/^define wan = .*/define wan = "wan0"/' \
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
threading.Thread(target=http.server.ThreadingHTTPServer(("0.0.0.0", 80), Page).serve_forever, daemon=True).start()
Secure(("0.0.0.0", 443), Page).serve_forever()
EOF
ip netns exec "$site" /usr/bin/python3 "$work/site.py" "$work" 2>"$work/site.err" & pids+=($!)
wait_for "site on port 80" listens "$site" 80
wait_for "site on port 443" listens "$site" 443

ip netns exec "$gateway" "$zunservice" -C "$work" --threads 2 --listen 127.0.0.1:0 \
  --proxy.transparent_listen "0.0.0.0:$port" >"$work/out.txt" 2>"$work/err.txt" & pids+=($!)
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
