#!/usr/bin/env bash
# The peers side by side with the pump, in one run: GStreamer's videotestsrc (moving SMPTE
# bars, and the moving bar pattern) into its shared-memory sink, and FFmpeg's smptebars
# into a null sink, at the pump's sizes, unpaced and paced at 60 and 240 frames/s, all in
# 8-bit BGR. Prints every figure and the ratios. Not a test.
#   bench/peers.sh [BUILD_DIR]        (default build/default; PEERS_SECONDS=3 per run)
#
# A peer's rate and CPU come from two runs of different length, so that starting and
# stopping the program cancel out: rate = extra frames / extra wall time, CPU = extra
# (user + system) seconds / extra wall time, of the whole peer process.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${PEERS_SECONDS:-3}

packages=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad ffmpeg jq time)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  echo "installing ${missing[*]}" >&2
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
[ -x "$build/bench/pump" ] || { echo "no $build/bench/pump: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "pump: $build/bench/pump --seconds $seconds"
"$build/bench/pump" --seconds "$seconds" --json "$work/pump.json" >"$work/pump.txt"
cat "$work/pump.txt"
echo

# run FRAMES COMMAND...: prints "wall cpu" of one run; FRAMES replaces the word @N@.
run() {
  local frames=$1; shift
  local args=("${@//@N@/$frames}")
  /usr/bin/time -f "%e %U %S" -o "$work/time" "${args[@]}" >/dev/null 2>&1 || true
  # A peer that exits non-zero makes time add a line before the figures: take the last.
  tail -n 1 "$work/time" | awk '{ print $1, $2 + $3 }'
}

# measure SHORT LONG COMMAND...: prints "frames/s cpu-seconds-per-second".
measure() {
  local short=$1 long=$2; shift 2
  read -r w1 c1 < <(run "$short" "$@")
  read -r w2 c2 < <(run "$long" "$@")
  awk -v n=$((long - short)) -v w1="$w1" -v w2="$w2" -v c1="$c1" -v c2="$c2" \
    'BEGIN { dw = w2 - w1; if (dw <= 0) dw = 0.001; printf "%.1f %.3f\n", n / dw, (c2 - c1) / dw }'
}

gst() { # PATTERN WIDTH HEIGHT RATE LIVE
  local bytes=$(($2 * $3 * 3))
  echo gst-launch-1.0 -q videotestsrc pattern="$1" horizontal-speed=2 is-live="$5" num-buffers=@N@ \
    ! "video/x-raw,format=BGR,width=$2,height=$3,framerate=$4/1" \
    ! shmsink socket-path="$work/shm-$$" shm-size=$((bytes * 8 + 4096)) wait-for-connection=false sync="$5"
}

ffm() { # WIDTH HEIGHT RATE PACED
  local realtime=()
  [ "$4" = true ] && realtime=(-re)
  echo ffmpeg -hide_banner -nostdin -loglevel error "${realtime[@]}" -f lavfi -i "smptebars=size=$1x$2:rate=$3" \
    -frames:v @N@ -pix_fmt bgr24 -f null -
}

printf "%-10s %-8s %-26s %12s %10s\n" size mode peer frames/s "CPU s/s"
declare -A fps cpu
for size in 1920x1080 2560x1440; do
  w=${size%x*} h=${size#*x}
  for mode in unpaced 60 240; do
    if [ "$mode" = unpaced ]; then
      # About `seconds` long at the rates the peers reach here.
      rate=1000 live=false short=30 long=$((30 + (w * h > 2100000 ? 225 : 400) * seconds))
    else
      rate=$mode live=true short=$((mode / 2)) long=$((mode * seconds + mode / 2))
    fi
    for peer in gst-smpte gst-bar ffmpeg-smptebars; do
      case $peer in
        gst-smpte) read -r -a cmd <<<"$(gst smpte "$w" "$h" "$rate" "$live")" ;;
        gst-bar) read -r -a cmd <<<"$(gst bar "$w" "$h" "$rate" "$live")" ;;
        ffmpeg-smptebars) read -r -a cmd <<<"$(ffm "$w" "$h" "$rate" "$live")" ;;
      esac
      read -r f c < <(measure "$short" "$long" "${cmd[@]}")
      fps[$size,$mode,$peer]=$f cpu[$size,$mode,$peer]=$c
      printf "%-10s %-8s %-26s %12s %10s\n" "$size" "$mode" "$peer" "$f" "$c"
    done
  done
done
echo

pump() { # SIZE RUN FIELD
  jq -r --arg s "$1" ".pump[] | select(.size == \$s) | .$2.$3.median" "$work/pump.json"
}
echo "ratios (pump / peer; for CPU, peer / pump: how many times less the pump uses)"
for size in 1920x1080 2560x1440; do
  pu=$(pump "$size" unpaced fps) limit=$(pump "$size" memsetLimit fps)
  awk -v s="$size" -v p="$pu" -v l="$limit" 'BEGIN { printf "%-10s unpaced pump %.0f frames/s = %.2f x memset\n", s, p, p / l }'
  for peer in gst-smpte gst-bar ffmpeg-smptebars; do
    awk -v s="$size" -v peer="$peer" -v p="$pu" -v g="${fps[$size,unpaced,$peer]}" \
      'BEGIN { printf "%-10s unpaced pump / %-18s %8.1f x\n", s, peer, (g > 0 ? p / g : 0) }'
  done
  for mode in 60 240; do
    pc=$(pump "$size" "paced$mode" frameThreadCpuPerSecond) pr=$(pump "$size" "paced$mode" fps)
    for peer in gst-smpte gst-bar ffmpeg-smptebars; do
      awk -v s="$size" -v m="$mode" -v peer="$peer" -v pc="$pc" -v pr="$pr" \
        -v gc="${cpu[$size,$mode,$peer]}" -v gr="${fps[$size,$mode,$peer]}" \
        'BEGIN { printf "%-10s paced %-3s %-18s rate %7.1f vs pump %7.1f; CPU %.3f vs pump %.3f (%.1f x)\n",
                 s, m, peer, gr, pr, gc, pc, (pc > 0 ? gc / pc : 0) }'
    done
  done
done
