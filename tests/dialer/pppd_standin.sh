#!/usr/bin/env bash
# Plays pppd for the dial-up tests (the test machines' kernel has no PPP, so a
# real pppd cannot bring a link up). It prints the log lines pppd prints with
# "nodetach" and exits with pppd's exit codes.
#
# The scenario is a comment line "# standin: NAME" in the peer file, which
# the stand-in finds after "file" or "call" in its arguments. It records its
# arguments (one per line) in $PPPD_STANDIN_LOG/args and what it read from
# the passwordfd descriptor in $PPPD_STANDIN_LOG/password.
set -u
log=${PPPD_STANDIN_LOG:?}
printf '%s\n' "$@" > "$log/args"

peer="" fd=""
while [ $# -gt 0 ]; do
  case "$1" in
    file) peer=$2; shift ;;
    call) peer=/etc/ppp/peers/$2; shift ;;
    passwordfd) fd=$2; shift ;;
  esac
  shift
done
if [ -n "$fd" ]; then
  cat <&"$fd" > "$log/password"
  echo "Plugin passwordfd.so loaded."
fi
scenario=$(sed -n 's/^# standin: *//p' "$peer" | head -n1)

up() {
  echo "Serial connection established."
  echo "using channel 7"
  echo "Using interface ppp0"
  echo "Connect: ppp0 <--> /dev/ttyUSB0"
  echo "sent [LCP ConfReq id=0x1 <asyncmap 0x0> <magic 0x5f1e2d3c> <pcomp> <accomp>]"
  echo "sent [PAP AuthReq id=0x1 user=\"alice\" password=<hidden>]"
}

# Stays up until it is told to end, as pppd does on SIGTERM.
stay_up() {
  trap 'echo "Terminating on signal 15"; echo "Connect time 0.1 minutes."; echo "Connection terminated."; echo "$$" > "$log/terminated"; exit 5' TERM
  while :; do sleep 0.05 & wait $!; done
}

case "$scenario" in
  connect)
    up; sleep 0.1
    echo "PAP authentication succeeded"
    echo "local  IP address 10.64.64.7"
    echo "remote IP address 10.64.64.64"
    stay_up ;;
  authfail)
    up; sleep 0.1
    echo "PAP authentication failed"
    echo "Connection terminated."
    exit 19 ;;
  modemhangup)
    up
    echo "PAP authentication succeeded"
    echo "local  IP address 10.64.64.7"
    echo "remote IP address 10.64.64.64"
    sleep 0.3
    echo "Modem hangup"
    echo "Connection terminated."
    exit 16 ;;
  nokernel)
    echo "Couldn't open the /dev/ppp device: No such file or directory"
    echo "Sorry - this system lacks PPP kernel support"
    exit 4 ;;
  locked)
    echo "Device ttyUSB0 is locked by pid 4242"
    exit 6 ;;
  noanswer)
    echo "Connect script failed"
    exit 8 ;;
  *)
    echo "unknown scenario '$scenario'" >&2
    exit 1 ;;
esac
