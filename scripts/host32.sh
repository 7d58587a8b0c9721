# shellcheck shell=sh
# Sourced by the scripts: can this host run 32-bit (i386) programs, and how
# does deps.sh make them run where the kernel cannot?
#
# host32 decides it once for the whole command, after deps.sh has brought
# what it can, says so in one line, and exports GLTRIANGLES_HOST32 to every
# program the command starts:
#   native    the kernel runs them itself
#   emulated  a user-mode emulator registered in binfmt_misc runs them
#   none      the kernel knows no such format ("Exec format error")
# Any other failure to run the probe stops the command, saying so.
# A value set by the user forces the answer, to try a path on any machine.

# Writes a 119-byte i386 Linux program to $1. It exits 0 where uname says
# "x86_64" (a 64-bit kernel running it itself) and 1 where it says "i686"
# (an emulator answers for the CPU it emulates); where the kernel runs no
# i386 code it cannot start at all.
host32_write_probe() {
    {
        # ELF header: 32-bit, little-endian, an i386 executable
        printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'  # e_ident
        printf '\2\0\3\0\1\0\0\0'                 # ET_EXEC, EM_386, version 1
        printf '\124\200\4\10'                    # e_entry 0x08048054, the code below
        printf '\64\0\0\0\0\0\0\0\0\0\0\0'        # program header at 52; no sections; no flags
        printf '\64\0\40\0\1\0\0\0\0\0\0\0'       # 52-byte header, one 32-byte program header
        # Program header: the whole file, read and execute, at 0x08048000
        printf '\1\0\0\0\0\0\0\0'                 # PT_LOAD from file offset 0
        printf '\0\200\4\10\0\200\4\10'           # virtual and physical address
        printf '\167\0\0\0\167\0\0\0'             # 119 bytes in the file and in memory
        printf '\5\0\0\0\0\20\0\0'                # PF_R | PF_X, aligned to 4 KiB
        # Code
        printf '\201\354\220\1\0\0'               # sub  esp, 400           room for a struct utsname
        printf '\211\343'                         # mov  ebx, esp
        printf '\270\172\0\0\0'                   # mov  eax, 122           uname(ebx)
        printf '\315\200'                         # int  0x80
        printf '\61\333'                          # xor  ebx, ebx
        printf '\200\274\44\4\1\0\0\170'          # cmp  byte [esp+260], 'x'  machine[0], after four 65-byte fields
        printf '\17\225\303'                      # setne bl
        printf '\270\1\0\0\0'                     # mov  eax, 1             exit(ebx)
        printf '\315\200'                         # int  0x80
    } >"$1"
    chmod +x "$1"
}

# Runs the program above, with the variables ARGS added to its environment:
# its status, or 125 where it failed otherwise than as a format the kernel
# does not know, said in one line. Not through env, whose /bin/sh fallback
# turns that ENOEXEC into a syntax error. Written under build/, where the
# scripts run: /tmp may be mounted noexec.
host32_run_probe() {
    if ! probe=$({ mkdir -p build && mktemp build/host32-probe.XXXXXX; } 2>&1); then
        echo "host32.sh: cannot write the i386 probe under $(pwd)/build ($probe); run the scripts from a writable source tree" >&2
        return 125
    fi
    host32_write_probe "$probe"
    status=0
    # shellcheck disable=SC2163  # ARGS are NAME=VALUE
    (export "$@" LC_ALL=C; exec "$probe") 2>"$probe.err" || status=$?
    if [ $status -gt 1 ] && ! grep -q "Exec format error" "$probe.err"; then
        echo "host32.sh: the i386 probe under $(pwd)/build could not run (status $status: $(sed "s|.*$probe: ||; q" "$probe.err")); let build/ hold programs (no noexec mount), or set GLTRIANGLES_HOST32 to native, emulated or none" >&2
        status=125
    fi
    rm -f "$probe" "$probe.err"
    return $status
}

# native, emulated or none, as the program above exits; fails where it could not tell.
host32_probe() {
    status=0
    host32_run_probe || status=$?
    case $status in
        0) echo native ;;
        1) echo emulated ;;
        125) return 1 ;;
        *) echo none ;;
    esac
}

# The major version of the emulator that runs 32-bit programs here, or
# nothing. qemu's user-mode emulators take options from the environment,
# so with QEMU_VERSION set the one registered answers for itself.
host32_emulator_version() {
    host32_run_probe QEMU_VERSION=1 | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p'
}

host32() {
    # A command started by another one takes the answer it was given.
    [ -n "${GLTRIANGLES_HOST32_SAID:-}" ] && return 0
    case "${GLTRIANGLES_HOST32:-}" in
        native|emulated|none) how="forced by GLTRIANGLES_HOST32" ;;
        "") how="found by running one"
            GLTRIANGLES_HOST32=$(host32_probe) || exit 1 ;;
        *) echo "GLTRIANGLES_HOST32 must be native, emulated or none" >&2; exit 2 ;;
    esac
    case $GLTRIANGLES_HOST32 in
        native) what="the kernel runs them" ;;
        emulated) what="qemu $(host32_emulator_version) in binfmt_misc runs them" ;;
        none) what="they cannot start here" ;;
    esac
    echo "32-bit programs: $GLTRIANGLES_HOST32 ($what; $how)"
    GLTRIANGLES_HOST32_HOW=$how
    GLTRIANGLES_HOST32_SAID=1
    export GLTRIANGLES_HOST32 GLTRIANGLES_HOST32_HOW GLTRIANGLES_HOST32_SAID
}

# qemu 7.2 spends 0.6 ms on each guest mmap, and a 32-bit Wine start makes 130,000 (8.0 tracks pages in interval trees)
QEMU_MIN=8

# indextargets lists only the indexes apt has downloaded: none at all where
# its lists are empty (a fresh image, a cleaned system), so update first.
# shellcheck disable=SC2016  # apt expands the $(FIELD)s in --format
host32_add_backports() {
    has_index() { apt-get indextargets --format '$(RELEASE)' | grep -qx "$1"; }
    has_index bookworm-backports && return 0
    [ -n "$updated" ] || apt_update
    has_index bookworm-backports && return 0
    mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' | sed -n 's/^bookworm //p' | head -1)
    if [ -z "$mirror" ]; then
        echo "$0: apt has no Debian 12 (bookworm) mirror in its sources to take bookworm-backports from; add one, or install qemu-user-static 8 or later yourself" >&2
        exit 1
    fi
    echo "deb $mirror bookworm-backports main" |
        as_root tee /etc/apt/sources.list.d/gltriangles-bookworm-backports.list >/dev/null
    updated=""
}

host32_bring_emulator() {
    qemu=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | sed 's/^[0-9]*://')
    if ! [ "${qemu%%.*}" -ge $QEMU_MIN ] 2>/dev/null; then
        # shellcheck source=/dev/null  # the system's, not the tree's
        . /etc/os-release
        from=""
        if [ "${VERSION_CODENAME:-}" = bookworm ]; then  # its own qemu is 7.2
            from="-t bookworm-backports"
            host32_add_backports
            echo "Taking qemu-user-static from bookworm-backports, for that package only: Debian 12's qemu 7.2 takes about a minute to start each 32-bit Wine process"
        fi
        # shellcheck disable=SC2086  # FROM is an option and its value, or nothing
        apt_install $from qemu-user-static
    fi
    # Debian registers no i386 handler on amd64, and nothing does without
    # systemd. F: the kernel opens the emulator now, so it works in chroots too.
    binfmt=/proc/sys/fs/binfmt_misc
    rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
    # Only the kernel's refusals are hidden: as_root and sudo say why they fail.
    status=0
    as_root sh -c "# register qemu-i386 in binfmt_misc
        exec 2>/dev/null
        [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || exit 3
        [ ! -e $binfmt/qemu-i386 ] || echo -1 >$binfmt/qemu-i386
        printf '%s' '$rule' >$binfmt/register || exit 3" || status=$?
    case $status in
        0) echo "Registered qemu $(host32_emulator_version) in binfmt_misc for 32-bit programs" ;;
        3) echo "Could not register an emulator for 32-bit programs: binfmt_misc cannot be mounted or written here (needs root in a machine or privileged container)" >&2 ;;
        *) echo "Could not register an emulator for 32-bit programs: that needs root or sudo" >&2 ;;
    esac
}

# Where this task runs 32-bit programs and the kernel runs no i386 code:
# brings a current qemu and registers it, unless the user forced an answer
# with GLTRIANGLES_HOST32 (that only picks a path). Called by deps.sh, after
# it has chosen its packages; an emulator older than QEMU_MIN is replaced.
host32_make_possible() {
    [ -z "${GLTRIANGLES_HOST32:-}" ] || return 0
    found=$(host32_probe) || exit 1
    [ "$found" != native ] || return 0
    [ "$(host32_emulator_version)" -ge $QEMU_MIN ] 2>/dev/null || host32_bring_emulator
    # None at all is no error: the 64-bit build runs then.
    found=$(host32_emulator_version)
    [ -z "$found" ] || need_version qemu $QEMU_MIN "$found" \
        "older ones take about a minute to start each 32-bit Wine process" \
        "install qemu-user-static $QEMU_MIN or later, or set GLTRIANGLES_HOST32=none to leave 32-bit programs out"
}
