#!/bin/sh
# host32's answer, or its one line, for each row's probe: a script (x), one without
# an x bit (-x: EACCES, as on a noexec mount), an ELF for no machine, a build/ that is a file.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source-path=SCRIPTDIR source=../../scripts/host32.sh
. "$root/scripts/host32.sh"
unset GLTRIANGLES_HOST32 GLTRIANGLES_HOST32_SAID  # test.sh exports its answer
# shellcheck disable=SC2218  # host32.sh's, before the rows' takes its place
host32_write_probe enoexec  # e_machine 0: no emulator takes it
printf '\0' | dd of=enoexec bs=1 seek=18 conv=notrunc 2>/dev/null
host32_write_probe() {
    if [ "$mode" = enoexec ]; then cp enoexec "$1"; else printf '#!/bin/sh\n%s\n' "$body" >"$1"; fi
    [ "$mode" = -x ] || chmod +x "$1"
}
fix="let build/ hold programs (no noexec mount), or set GLTRIANGLES_HOST32 to native, emulated or none"
failed=0
while IFS='|' read -r mode body status line; do
    line=$(printf '%s' "$line" | sed "s|WORK|$work|; s|FIX|$fix|")
    rm -rf build && { [ "$mode" != file ] || touch build; }
    out=$(LC_ALL=C host32 2>&1) && got=0 || got=$?
    out=$out$(ls -A build/ 2>/dev/null)  # the probe and its stderr are removed
    if [ "$got" != "$status" ] || [ "$out" != "$line" ]; then
        printf '%s "%s":\n    expected status %s and "%s"\n    got status %s and "%s"\n' \
            "$mode" "$body" "$status" "$line" "$got" "$out"
        failed=1
    fi
done <<'TABLE'
x|exit 0|0|32-bit programs: native (the kernel runs them; found by running one)
x|[ -z "${QEMU_VERSION:-}" ] && exit 1; echo "qemu-i386 version 8.2.2"|0|32-bit programs: emulated (qemu 8 in binfmt_misc runs them; found by running one)
enoexec||0|32-bit programs: none (they cannot start here; found by running one)
-x|exit 0|1|host32.sh: the i386 probe under WORK/build could not run (status 126: Permission denied); FIX
x|echo oops >&2; exit 5|1|host32.sh: the i386 probe under WORK/build could not run (status 5: oops); FIX
file|exit 0|1|host32.sh: cannot write the i386 probe under WORK/build (mkdir: cannot create directory 'build': File exists); run the scripts from a writable source tree
TABLE
exit $failed
