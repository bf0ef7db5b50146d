# Sourced by the benchmarks that show windows: builds the window waiter
# (mapwait) into $work and starts a private Xvfb on a free display number,
# setting DISPLAY and xpid (the caller's cleanup kills it). Needs $here, $work
# and the caller's name in $bench_name.
# As root, what is missing of the display and the waiter's headers comes
# first, as the benchmarks' reference tools do.
xmissing=()
command -v Xvfb >/dev/null || xmissing+=(xvfb)
[ -f /usr/include/X11/Xlib.h ] || xmissing+=(libx11-dev)
[ -f /usr/include/X11/extensions/Xdamage.h ] || xmissing+=(libxdamage-dev)
if [ "${#xmissing[@]}" -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${xmissing[@]}" >/dev/null
fi
command -v Xvfb >/dev/null || { echo "$bench_name: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
[ -f /usr/include/X11/Xlib.h ] || { echo "$bench_name: Xlib headers are missing (apt-get install libx11-dev)" >&2; exit 1; }
[ -f /usr/include/X11/extensions/Xdamage.h ] || { echo "$bench_name: X DAMAGE headers are missing (apt-get install libxdamage-dev)" >&2; exit 1; }
cc -O2 -o "$work/mapwait" "$here/mapwait.c" -lX11 -lXdamage

disp=""
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { disp=":$n"; break; }
done
[ -n "$disp" ] || { echo "$bench_name: no free display" >&2; exit 1; }
Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
export DISPLAY="$disp"
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${disp#:}" ] && break; sleep 0.05; done
unset QT_QPA_PLATFORM
