# Sourced by the scripts: can this host run 32-bit (i386) programs?
# host32 sets and exports GLTRIANGLES_HOST32 to one of
#   native    the kernel runs them itself
#   emulated  a user-mode emulator registered in binfmt_misc runs them
#   none      they cannot start ("Exec format error")
# and says so once. Setting GLTRIANGLES_HOST32 beforehand forces the answer,
# so that every path can be tried on any machine.

# A 119-byte i386 Linux program: exits 0 if uname says "x86_64" (a 64-bit
# kernel running it itself), 1 if not (an emulator answers for the CPU it
# emulates, "i686"); it cannot start where the kernel runs no i386 code.
host32_probe() {
    probe=$(mktemp)
    printf '\177\105\114\106\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\167\0\0\0\167\0\0\0\5\0\0\0\0\20\0\0\201\354\220\1\0\0\211\343\270\172\0\0\0\315\200\61\333\200\274\44\4\1\0\0\170\17\225\303\270\1\0\0\0\315\200' >"$probe"
    chmod +x "$probe"
    status=0
    "$probe" 2>/dev/null || status=$?
    case $status in
        0) echo native ;;
        1) echo emulated ;;
        *) echo none ;;
    esac
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
