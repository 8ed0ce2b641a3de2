# Shared by scripts/run and scripts/test (sourced, not run).

# What building needs; the tests need the rest. fonts-liberation2 stands in for the window's
# Times New Roman with the same metrics; fonts-vlgothic draws the window's Japanese texts (hints,
# the grid's range error); xdg-utils finds the browser for the help pages.
RUVO_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev qt6-base-dev qt6-multimedia-dev
                     libfluidsynth-dev timgm6mb-soundfont python3 libsndfile1-dev libsoxr-dev
                     libavformat-dev libavcodec-dev libswresample-dev libjack-jackd2-dev
                     fonts-liberation2 fonts-vlgothic xdg-utils)
# The converter's live sound input (the sound server's simple interface).
RUVO_BUILD_PACKAGES+=(libpulse-dev)
# The import decodes FLAC files with libFLAC itself.
RUVO_BUILD_PACKAGES+=(libflac-dev)
# What the Debian package needs: dpkg-shlibdeps finds the libraries' packages, file tells it
# which installed files are programs.
RUVO_PACKAGE_PACKAGES=(dpkg-dev file)
# libsox-fmt-mp3 lets sox write the MP3 inputs of the import tests, ffmpeg their M4A, WMA and
# video inputs; desktop-file-utils,
# appstream and man-db check the desktop entry, the AppStream data and the manual pages; clang
# and libclang-rt-dev (libFuzzer and the sanitizers' run-time) build the fuzz harnesses;
# musescore3 and lilypond open the scores the converter writes.
RUVO_TEST_PACKAGES=("${RUVO_BUILD_PACKAGES[@]}" "${RUVO_PACKAGE_PACKAGES[@]}" xvfb xauth pulseaudio
                    pulseaudio-utils sox libsox-fmt-mp3 ffmpeg python3-mido desktop-file-utils appstream man-db
                    clang libclang-rt-dev)
RUVO_TEST_PACKAGES+=(musescore3 lilypond)
# jackd2 runs the private dummy-driver JACK servers of the MIDI output's tests.
RUVO_TEST_PACKAGES+=(jackd2)
# What the test builds need besides the build packages: lld, which links their programs in about
# a third of the time of the default linker (the address-sanitized tree: 7 s of processor time
# instead of 20), and sox and ffmpeg, whose paths the configuration writes into the import's
# tests. scripts/test installs these first and the other test tools while the first build runs.
RUVO_TEST_BUILD_PACKAGES=(lld sox ffmpeg)
RUVO_TEST_PACKAGES+=("${RUVO_TEST_BUILD_PACKAGES[@]}")

ruvo_log() {
    printf '== [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"
}

# Installs those of the named Debian packages that are missing; apt-get update runs only then,
# and once per run.
RUVO_APT_UPDATED=0
ruvo_install_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo=(sudo)
    fi
    ruvo_log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if [[ $RUVO_APT_UPDATED -eq 0 ]]; then
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
        RUVO_APT_UPDATED=1
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}" </dev/null
}

# ruvo_build DIR [cmake options...]: configures (once) and builds DIR with Ninja.
ruvo_build() {
    local dir=$1
    shift
    ruvo_log "building $dir"
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(ruvo_jobs)"
}

# ruvo_start LOG COMMAND...: starts COMMAND (a program or one of these functions) in the
# background at the lowest priority, in a process group of its own, with its output in LOG; its
# pid is left in RUVO_STARTED. Tests that run meanwhile keep the processors they need, and the
# job takes the time they spend waiting. ruvo_finish waits for it, ruvo_stop ends it.
ruvo_start() {
    local log=$1
    shift
    set -m
    ( renice -n 19 -p "$BASHPID" >/dev/null; "$@" ) </dev/null >"$log" 2>&1 &
    RUVO_STARTED=$!
    set +m
}

# ruvo_priority PID NICE: sets the priority of a job of ruvo_start: 0 (normal) while nothing else
# runs and the job is awaited, 19 again after. Only root may raise it: others leave it low.
ruvo_priority() {
    renice -n "$2" -g "$1" >/dev/null 2>&1 || true
}

# ruvo_finish PID LOG WHAT: waits for a job of ruvo_start at the normal priority; when it failed,
# shows its output and returns non-zero.
ruvo_finish() {
    ruvo_priority "$1" 0
    if wait "$1"; then
        ruvo_log "$3 done"
        return 0
    fi
    ruvo_log "$3 failed:"
    cat "$2"
    return 1
}

# ruvo_stop PID: ends a job of ruvo_start with everything it started.
ruvo_stop() {
    kill -- "-$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# At most two jobs: the machines this runs on have two cores shared with others.
ruvo_jobs() {
    local n
    n=$(nproc 2>/dev/null || echo 2)
    (( n > 2 )) && n=2
    echo "$n"
}
