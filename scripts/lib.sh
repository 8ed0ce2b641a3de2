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

ruvo_log() {
    printf '== [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"
}

# Installs those of the named Debian packages that are missing; apt-get update runs only then.
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
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
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

# At most two jobs: the machines this runs on have two cores shared with others.
ruvo_jobs() {
    local n
    n=$(nproc 2>/dev/null || echo 2)
    (( n > 2 )) && n=2
    echo "$n"
}
