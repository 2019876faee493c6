#!/bin/sh
# Builds the reader benchmarks (DPX, planar, movie) in a Release build folder, runs them once and
# prints, for each reader, from that one run, the ratios their targets are set in:
#   decode / I/O floor          4K and 8K at 1/4: at most 1.5 (the frame in the file cache)
#   options on / options off    at most 1.3; on the camera-like DPX picture at most 2.0
#   ffmpeg / ours at 1/4        at least 20 (ffmpeg decoding the same file and scaling it)
#   cold decode / floor         at most 1.3: every file of the frame dropped from the file cache
#                               first; the floor is the best the disk gives for the same bytes
#                               in the same iteration (the shown rows unbuffered with 32 reads in
#                               flight, or the whole frame in order in 8 MiB reads)
#   device / shown bytes        at most 1.1 at 1/4 and 1/8: what the cold frame took from the
#                               disk (getrusage's ru_inblock) against the bytes of its shown rows
#   cold playback / floor       at least 0.8: frames a second over 24 consecutive 8K DPX frames
#                               through the viewer's tick with its read-ahead, against the floor
#                               taken just before and just after (the mean of the two)
# The paired benchmarks time both sides in alternation, so load from other processes that comes
# and goes during the run shifts both alike.
# Usage: scripts/bench.sh [Google Benchmark options, e.g. --benchmark_filter=Dpx]
# The build folder is build/bench unless ZELKORA_BENCH_BUILD names another one. The frame files
# (about 250 MB per reader, and 24 copies of the 8K DPX frame for the cold playback, 4.8 GB) are
# written once into it and reused by later runs.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKORA_BENCH_BUILD:-build/bench}
case $build in
/*) ;;
*) build=$root/$build ;;
esac

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELKORA_BENCH=ON -DZELKORA_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j2 --target zelkora_bench

cd "$build"
./bench/zelkora_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out=bench-results.json --benchmark_out_format=json "$@"
# The 8K frames at Original size again with 1, 2 and 4 workers: what the bands gain.
for workers in 1 2 4; do
  ZELKORA_BENCH_WORKERS=$workers ./bench/zelkora_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_format=json \
    --benchmark_filter='BM_(Dpx|Planar|Mov)Frame/K:8/shift:0/options:0' \
    >"workers-$workers.json" 2>/dev/null
done

python3 - bench-results.json <<'EOF'
import json, re, shutil, statistics, subprocess, sys, time

with open(sys.argv[1]) as f:
    results = json.load(f)["benchmarks"]

# Medians of the repetitions by benchmark name and its arguments: wall milliseconds (a frame
# decodes on every worker; the user waits for the last band), and the "ratio" counter of the
# paired benchmarks, which time two variants in alternation.
times, ratios, counters = {}, {}, {}
for r in results:
    if r.get("aggregate_name") != "median":
        continue
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    family = r["run_name"].split("/")[0]
    args = dict(re.findall(r"(\w+):(\d+)", r["run_name"]))
    key = (family,) + tuple(sorted((k, int(v)) for k, v in args.items()
                            if k not in ("repeats", "iterations")))
    times[key] = r["real_time"] * scale
    if "ratio" in r:
        ratios[key] = r["ratio"]
    counters[key] = r

def get(family, table=times, **args):
    return table.get((family,) + tuple(sorted(args.items())))

def ffmpeg_ms(path, runs=5):
    # Decoding the file and scaling it to 1/4 by picking pixels, as our 1/4 view does: wall time,
    # as ours is, start-up included; the median of several runs.
    command = ["ffmpeg", "-v", "error", "-nostdin", "-i", path,
               "-vf", "scale=iw/4:ih/4:flags=neighbor", "-pix_fmt", "bgra", "-f", "rawvideo", "-"]
    spent = []
    for _ in range(runs):
        started = time.monotonic()
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
        spent.append((time.monotonic() - started) * 1e3)
    return statistics.median(spent)

def ratio_of(paired, a, b, **args):
    # The paired benchmark when there is one, else the two medians.
    ratio = get(paired, ratios, **args)
    return ratio if ratio is not None else a / b

# Reader name, benchmark prefix, file ffmpeg reads for the same frame (None: it has no such file).
readers = [("DPX", "Dpx", "bench{k}K.dpx"), ("DPX 10-bit", "Dpx10", None),
           ("planar", "Planar", None), ("movie", "Mov", "bench{k}K.mov")]
for title, name, ffmpeg_file in readers:
    if get(f"BM_{name}Frame", K=4, shift=2, options=0) is None:
        continue
    print(f"\n{title}, median of 5  ratio  target   a ms    b ms  (a-b) ns/shown pixel")
    for k in (4, 8):
        for shift in (0, 2):
            pixels = (3840 * k // 4 >> shift) * (2160 * k // 4 >> shift)
            decode = get(f"BM_{name}Frame", K=k, shift=shift, options=0)
            floor = get(f"BM_{name}Floor", K=k, shift=shift)
            if decode is None or floor is None:
                continue  # 10-bit DPX runs at 4K only
            ratio = ratio_of(f"BM_{name}DecodeOverFloor", decode, floor, K=k, shift=shift)
            target = "<= 1.5" if shift == 2 else "      "
            print(f"  {k}K 1/{1 << shift}  decode / floor   {ratio:6.2f}  {target} {decode:7.2f} "
                  f"{floor:7.2f}  {(decode - floor) * 1e6 / pixels:5.2f}")
    for k in (4, 8):
        for shift in (0, 2):
            pixels = (3840 * k // 4 >> shift) * (2160 * k // 4 >> shift)
            on = get(f"BM_{name}Frame", K=k, shift=shift, options=1)
            off = get(f"BM_{name}Frame", K=k, shift=shift, options=0)
            if on is None or off is None:
                continue
            for camera in (0, 1) if name == "Dpx" else (None,):
                picture = {} if camera is None else {"camera": camera}
                ratio = ratio_of(f"BM_{name}OptionsOnOverOff", on, off, K=k, shift=shift, **picture)
                label, target = ("options on / off", "<= 1.3")
                if camera:
                    # The camera-like picture has no frame benchmark of its own: the pair's times.
                    label, target = ("camera on / off ", "<= 2.0")
                    on = get(f"BM_{name}OptionsOnOverOff", K=k, shift=shift, **picture)
                    off = on / ratio
                print(f"  {k}K 1/{1 << shift}  {label} {ratio:6.2f}  {target} {on:7.2f} "
                      f"{off:7.2f}  {(on - off) * 1e6 / pixels:5.2f}")
    colds = [(k, shift, cold) for k in (4, 8) for shift in (0, 2, 3)
             if (cold := get(f"BM_{name}Cold", table=counters, K=k, shift=shift)) is not None]
    for k, shift, cold in colds:
        decode = get(f"BM_{name}Cold", K=k, shift=shift)
        target = "<= 1.3" if shift != 3 else "      "
        print(f"  {k}K 1/{1 << shift}  cold decode / floor {cold['ratio']:6.2f}  {target} "
              f"{decode:7.2f} {cold['floor_ms']:7.2f}  cpu {cold['cpu_ms']:.0f} ms")
    for k, shift, cold in colds:
        ratio = cold["device_mb"] / cold["shown_mb"]
        target = "<= 1.1" if shift != 0 else "      "
        print(f"  {k}K 1/{1 << shift}  device / shown MB  {ratio:6.2f}  {target} "
              f"{cold['device_mb']:7.2f} {cold['shown_mb']:7.2f}")
    if name == "Dpx":
        for shift in (2, 0):
            play = get("BM_DpxColdPlayback", table=counters, shift=shift)
            if play is not None:
                print(f"  8K 1/{1 << shift}  cold playback / floor {play['ratio']:4.2f}  >= 0.8 "
                      f"{play['fps']:7.2f} {play['floor_fps']:7.2f}  frames a second, median of 5; "
                      f"{play['device_mb']:.1f} MB a frame from the disk")
        gaps = get("BM_DpxColdGapsReadOverSkipped", table=counters)
        if gaps is not None:
            print(f"  8K 1/2  cold gaps read / skipped {gaps['ratio']:4.2f}  (above 1: skipping "
                  f"them is faster)")
    if ffmpeg_file and shutil.which("ffmpeg"):
        for k in (4, 8):
            ours = get(f"BM_{name}Frame", K=k, shift=2, options=0)
            theirs = ffmpeg_ms("zelkora-bench-files/" + ffmpeg_file.format(k=k))
            print(f"  {k}K 1/4  ffmpeg / ours    {theirs / ours:6.1f}  >= 20  {theirs:7.2f} "
                  f"{ours:7.2f}")

fill = get("BM_ColourLookupFill")
if fill is not None:
    print(f"\nBT.709 lookup, filled once when the conversion is first on: {fill:.1f} ms")

print("\n8K at 1/1, options off, ms a frame by workers (median of 3) and the speed-up over one")
for title, name in (("DPX", "Dpx"), ("planar", "Planar"), ("movie", "Mov")):
    line = []
    for workers in (1, 2, 4):
        with open(f"workers-{workers}.json") as f:
            found = [r["real_time"] for r in json.load(f)["benchmarks"]
                     if r.get("aggregate_name") == "median"
                     and r["run_name"].startswith(f"BM_{name}Frame/")]
        line.append(found[0] if found else None)
    if line[0]:
        print(f"  {title:7} " + "  ".join(f"{w} workers {t:7.2f} ({line[0] / t:4.2f}x)"
                                          for w, t in zip((1, 2, 4), line) if t))
EOF
