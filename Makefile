# Thin wrapper over the CMake presets; every target installs what it needs first.
.PHONY: all bootstrap build run test asan tsan fuzz package check-package clean

all: build

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default

# Builds, then starts the program with its diagnostic log (ORB.LOG in the current directory).
run: build
	./build/default/bin/orb /m

# Builds, then runs every test; the X11 and UI tests get a private Xvfb with openbox.
test: build
	scripts/with-x11 ctest --preset default

asan: bootstrap
	cmake --preset asan -DORB_WERROR=ON
	cmake --build --preset asan
	ctest --preset asan

tsan: bootstrap
	cmake --preset tsan -DORB_WERROR=ON
	cmake --build --preset tsan
	ctest --preset tsan

fuzz: bootstrap
	cmake --preset fuzz
	cmake --build --preset fuzz

# The Debian package, build/package/orb_<version>_<arch>.deb (CPack, preset "package").
package: bootstrap
	cmake --preset package
	cmake --build --preset package

# Builds the package, then lints it, installs it on this machine, tries it and removes it.
check-package: bootstrap
	scripts/check-package

clean:
	rm -rf build
