# Sourced by the scripts: can this host run 32-bit (i386) programs?
# host32 sets and exports GLTRIANGLES_HOST32 to one of
#   native    the kernel runs them itself
#   emulated  a user-mode emulator registered in binfmt_misc runs them
#   none      they cannot start ("Exec format error")
# and says so once. Setting GLTRIANGLES_HOST32 beforehand forces the answer,
# so that every path can be tried on any machine.

host32_probe() {  # runs a 93-byte i386 Linux program that only exits 0
    probe=$(mktemp)
    printf '\177\105\114\106\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe"
    chmod +x "$probe"
    if "$probe" 2>/dev/null; then
        # It ran: by the kernel, unless an enabled handler claims i386 ELF.
        if grep -lsx 'magic 7f454c4601010100000000000000000002000300' \
            /proc/sys/fs/binfmt_misc/* | xargs -r grep -lx enabled | grep -q .; then
            echo emulated
        else
            echo native
        fi
    else
        echo none
    fi
    rm -f "$probe"
}

host32() {
    [ -n "${GLTRIANGLES_HOST32_SAID:-}" ] && return 0
    how="found by running one"
    case "${GLTRIANGLES_HOST32:-}" in
        native|emulated|none) how="forced by GLTRIANGLES_HOST32"
                              GLTRIANGLES_HOST32_FORCED=1 ;;
        "") GLTRIANGLES_HOST32=$(host32_probe) ;;
        *) echo "GLTRIANGLES_HOST32 must be native, emulated or none" >&2; exit 2 ;;
    esac
    case $GLTRIANGLES_HOST32 in
        native) what="the kernel runs them" ;;
        emulated) what="an emulator in binfmt_misc runs them" ;;
        none) what="they cannot start here" ;;
    esac
    echo "32-bit programs: $GLTRIANGLES_HOST32 ($what; $how)"
    GLTRIANGLES_HOST32_SAID=1
    export GLTRIANGLES_HOST32 GLTRIANGLES_HOST32_SAID GLTRIANGLES_HOST32_FORCED
}

# Asks again after deps.sh, which may have registered an emulator; says so
# only if the answer changed.
host32_again() {
    [ -n "${GLTRIANGLES_HOST32_FORCED:-}" ] && return 0
    was=$GLTRIANGLES_HOST32
    GLTRIANGLES_HOST32=$(host32_probe)
    [ "$GLTRIANGLES_HOST32" = "$was" ] || { GLTRIANGLES_HOST32_SAID=""; host32; }
}
