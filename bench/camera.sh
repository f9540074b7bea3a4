#!/usr/bin/env bash
# The camera path's CPU per delivered frame beside its peers, on the same virtual camera
# (scripts/virtual-camera, YUY2 or MJPG) in one run: the plug-in's capture loop into a ring
# (bench/camera_capture), GStreamer (v4l2src ! [jpegdec !] videoconvert ! BGR ! shmsink,
# and for MJPG also into a fakesink) and FFmpeg (v4l2 demuxer, bgr24 into a null sink),
# each under pw-v4l2, at 1280x720 and 1920x1080, 30 and 60 frames/s; then the emulation's
# own cost, and the plug-in's frame thread while the camera is gone. Prints figures; not a test.
#   bench/camera.sh [BUILD_DIR]     (default build/default; CAMERA_SECONDS=6 per run, CAMERA_NODE=12,
#                                    CAMERA_FORMAT=YUY2 or MJPG; MJPG sends a moving SMPTE pattern,
#                                    whose JPEG frames cost what a real scene's do, not a flat colour)
#
# Every figure is the whole process's user + system CPU per frame (the plug-in's also as
# its frame thread's alone) over a window that leaves out starting and stopping: for the
# plug-in the program's own window and frame count; for a peer its /proc figures over the
# same length of window, at the source's rate. A peer's frames/s is its whole run's
# (start-up included, half a second allowed for it): near the source's rate, it kept up.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${CAMERA_SECONDS:-6}
node=${CAMERA_NODE:-12}
format=${CAMERA_FORMAT:-YUY2}
case $format in
  YUY2) picture=() ;;
  MJPG) picture=(--pattern smpte) ;;
  *) echo "CAMERA_FORMAT must be YUY2 or MJPG" >&2; exit 2 ;;
esac
name="Bench Camera"
camera=scripts/virtual-camera

scripts/install-deps --bench
[ -x "$build/bench/camera_capture" ] || { echo "no $build/bench/camera_capture: build first" >&2; exit 1; }
work=$(mktemp -d)
trap '"$camera" stop --node "$node"; rm -rf "$work"' EXIT
state=/tmp/virtual-camera-video$node

# CPU seconds (user + system) of a process so far.
cpu_of() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / hz }' "/proc/$1/stat" 2>/dev/null || echo 0
}
emulation_cpu() {
  local total=0 what
  for what in pipewire wireplumber source; do
    total=$(awk -v a="$total" -v b="$(cpu_of "$(cat "$state/$what.pid")")" 'BEGIN { print a + b }')
  done
  echo "$total"
}

# peer COMMAND...: runs a peer under the camera for the rate's worth of frames of `seconds`
# plus two (@N@ becomes that count) and prints "frames/s us-per-frame": its CPU over a
# window after a second and a half of settling, per frame of the window (the source's rate:
# a peer that keeps up, which the rate printed, from its whole run, shows).
peer() {
  local frames=$((rate * (seconds + 2)))
  local args=("${@//@N@/$frames}")
  "$camera" ready --node "$node"
  local start
  start=$(date +%s.%N)
  "$camera" run --node "$node" -- "${args[@]}" >/dev/null 2>"$work/err" &
  local pid=$! c0 c1 t0 t1 end
  sleep 1.5
  c0=$(cpu_of "$pid") t0=$(date +%s.%N)
  sleep "$((seconds - 1))"
  c1=$(cpu_of "$pid") t1=$(date +%s.%N)
  # GStreamer's shmsink reports an error when it is torn down under pw-v4l2, after the
  # last frame: not a failed run.
  if ! wait "$pid" && ! grep -q "gst_poll_wait returned -1, errno: 16" "$work/err"; then
    echo "failed: ${args[*]}" >&2
    tail -n 5 "$work/err" >&2
  fi
  end=$(date +%s.%N)
  awk -v n="$frames" -v r="$rate" -v s="$start" -v e="$end" -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%.1f %.0f\n", n / (e - s - 0.5), (c1 - c0) / ((t1 - t0) * r) * 1e6 }'
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-10s %4s  %-34s %10s %12s  %s\n" size rate path frames/s "CPU us/frame" "(other)"
for size in 1280x720 1920x1080; do
  w=${size%x*} h=${size#*x}
  for rate in 30 60; do
    "$camera" start --node "$node" --name "$name" --size "$size" --rate "$rate" --format "$format" "${picture[@]}" \
      >/dev/null
    "$camera" ready --node "$node"

    # The plug-in, with the emulation's processes measured over the same window.
    "$camera" run --node "$node" -- "$build/bench/camera_capture" --source "$node: $name" --size "$size" \
      --fps "$rate" --seconds "$seconds" >"$work/plugin" 2>"$work/plugin.err" &
    capture=$!
    sleep 1.5
    e0=$(emulation_cpu) t0=$(date +%s.%N)
    sleep "$(awk -v s="$seconds" 'BEGIN { print s - 1 }')"
    e1=$(emulation_cpu) t1=$(date +%s.%N)
    wait "$capture" || { cat "$work/plugin.err" >&2; exit 1; }
    line=$(tail -n 1 "$work/plugin")
    fps=$(sed -E 's/.*: ([0-9.]+) frames\/s published.*/\1/' <<<"$line")
    thread=$(sed -E 's/.*frame thread ([0-9]+) us\/frame.*/\1/' <<<"$line")
    process=$(sed -E 's/.*process ([0-9]+) us\/frame.*/\1/' <<<"$line")
    printf "%-10s %4s  %-34s %10s %12s  %s\n" "$size" "$rate" "plug-in (camera_capture)" "$fps" "$process" \
      "frame thread alone $thread us/frame"
    emulation=$(awk -v a="$e0" -v b="$e1" -v t0="$t0" -v t1="$t1" -v f="$fps" \
      'BEGIN { s = (b - a) / (t1 - t0); printf "%.0f us/frame (%.3f CPU s/s)", (f > 0 ? s / f * 1e6 : 0), s }')

    if [ "$format" = MJPG ]; then
      read -r f c < <(peer gst-launch-1.0 -q v4l2src "device=/dev/video$node" num-buffers=@N@ \
        ! "image/jpeg,width=$w,height=$h,framerate=$rate/1" ! jpegdec ! videoconvert ! video/x-raw,format=BGR \
        ! shmsink "socket-path=$work/shm" "shm-size=$((w * h * 3 * 8 + 4096))" wait-for-connection=false sync=false)
      printf "%-10s %4s  %-34s %10s %12s\n" "$size" "$rate" "GStreamer (jpegdec, videoconvert)" "$f" "$c"
      read -r f c < <(peer gst-launch-1.0 -q v4l2src "device=/dev/video$node" num-buffers=@N@ \
        ! "image/jpeg,width=$w,height=$h,framerate=$rate/1" ! jpegdec ! videoconvert ! video/x-raw,format=BGR \
        ! fakesink sync=false)
      printf "%-10s %4s  %-34s %10s %12s\n" "$size" "$rate" "GStreamer (jpegdec, into fakesink)" "$f" "$c"
      input=mjpeg
    else
      read -r f c < <(peer gst-launch-1.0 -q v4l2src "device=/dev/video$node" \
        num-buffers=@N@ ! "video/x-raw,format=YUY2,width=$w,height=$h,framerate=$rate/1" ! videoconvert \
        ! video/x-raw,format=BGR ! shmsink "socket-path=$work/shm" "shm-size=$((w * h * 3 * 8 + 4096))" \
        wait-for-connection=false sync=false)
      printf "%-10s %4s  %-34s %10s %12s\n" "$size" "$rate" "GStreamer (v4l2src, videoconvert)" "$f" "$c"
      input=yuyv422
    fi

    read -r f c < <(peer ffmpeg -hide_banner -nostdin -loglevel error -f v4l2 \
      -input_format "$input" -video_size "$size" -framerate "$rate" -i "/dev/video$node" -frames:v @N@ \
      -pix_fmt bgr24 -f rawvideo -y /dev/null)
    printf "%-10s %4s  %-34s %10s %12s\n" "$size" "$rate" "FFmpeg (v4l2, bgr24)" "$f" "$c"
    printf "%-10s %4s  %-34s %10s %12s\n" "$size" "$rate" "emulation (PipeWire, WirePlumber, source)" "" \
      "${emulation% us/frame*}  ${emulation#* us/frame }"
    "$camera" stop --node "$node"
  done
done

# The plug-in's frame thread while its device is gone: the source is removed mid-run.
echo
echo "device gone: 1280x720 at 30 frames/s, the source removed after 3 s"
"$camera" start --node "$node" --name "$name" >/dev/null
"$camera" run --node "$node" -- "$build/bench/camera_capture" --source "$node: $name" --fps 30 --seconds 22 \
  --every-second 2>&1 &
capture=$!
sleep 4
"$camera" remove --node "$node"
wait "$capture"
