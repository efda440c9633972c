#!/usr/bin/env bash
# Makes the release of the last commit in dist/: the source tarball, the
# Debian package, the Windows ZIP and SHA256SUMS over the three. Everything
# is built from the commit alone (the tarball, unpacked in a scratch folder),
# never from the working tree, so uncommitted changes are left out.
#
# The artefacts are the same to the byte wherever and whenever this runs on
# the same tools: all time stamps are the commit's (SOURCE_DATE_EPOCH, which
# CMake, CPack, binutils and the manual page follow), ZIP times are read in
# UTC, and modes do not follow the caller's umask. marvix.exe is linked
# without a time stamp, but CPack strips it for the ZIP, and strip writes
# the commit's time into its header (and a checksum over the file).
#
# Needs: git, cmake, g++, dpkg-dev and file (the package's dependencies),
# g++-mingw-w64-x86-64-posix.
set -euo pipefail
umask 022
export TZ=UTC LC_ALL=C
cd "$(dirname "$0")/.."

commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
version=$(git show "$commit:CMakeLists.txt" | sed -n 's/^project(marvix VERSION \([0-9.]*\) .*/\1/p')
news=$(git show "$commit:NEWS.md" | sed -n 's/^## \([0-9.]*\) (.*/\1/p' | head -1)
if [ "$version" != "$news" ]; then
  echo "release: the project's version is $version, the newest NEWS.md entry's $news" >&2
  exit 1
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: uncommitted changes are not part of it; releasing $commit" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=marvix-$version
git archive --format=tar --prefix="$name/" "$commit" | gzip -n -9 >"$work/$name.tar.gz"
tar -xzf "$work/$name.tar.gz" -C "$work"
src=$work/$name

cmake -S "$src" -B "$work/deb" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/deb" -j2 >/dev/null
(cd "$work/deb" && cpack -G DEB >/dev/null)

LDFLAGS=-Wl,--no-insert-timestamp cmake -S "$src" -B "$work/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/win" -j2 >/dev/null
(cd "$work/win" && cpack -G ZIP >/dev/null)

rm -rf dist
mkdir dist
cp "$work/$name.tar.gz" "$work/deb/marvix_${version}_"*.deb "$work/win/$name-win64.zip" dist/
(cd dist && sha256sum -- * >SHA256SUMS)
cat dist/SHA256SUMS
