# The two commands of the README, plus the ones around them.
#   make demo   build, then run a whole device update against the simulated device
#   make test   build and run every test, then again under the sanitizers, then the fuzzers
#   make gui    build, then start the dialog with a simulated device as a COM port
#   make package  build, then the Debian package build/matrix-update_<version>_amd64.deb
#   make windows  cross-build the Windows programs into build-win/ and lay them out in
#               dist/matrix-update-windows/ and dist/matrix-update-windows.zip, and the
#               installer dist/matrix-update-<version>-x64.msi
# Each first runs scripts/install-deps.sh, which installs what is missing (and nothing else).

JOBS ?= 2
FUZZ_SECONDS ?= 20
GEN := -G Ninja
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TSAN_FILTER := Serial*:Link*:Ports*:Transfer*

.PHONY: deps build demo test test-plain test-package test-asan test-tsan test-fuzz test-windows windows windows-build gui install package clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

demo: build
	build/bin/matrixctl demo

test: deps
	$(MAKE) --no-print-directory test-plain test-package test-asan test-tsan test-fuzz test-windows
	@echo "All test runs passed."

test-plain:
	cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure -j $(JOBS)
	@# Two seconds of benchmark: a missed target is printed, not a failure.
	build/bin/bench_pattern 3

# The package of the build just tested: control data, files, lintian, the installed programs.
test-package: package
	tests/package/check_package.sh build

test-asan:
	cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DMATRIX_SANITIZE=address,undefined -DMATRIX_BUILD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	$(SAN_ENV) ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DMATRIX_SANITIZE=thread -DMATRIX_BUILD_GUI=OFF -DMATRIX_BUILD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target matrix_tests matrixctl
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 setarch -R build-tsan/bin/matrix_tests --gtest_filter='$(TSAN_FILTER)'

test-fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=Debug -DMATRIX_BUILD_FUZZ=ON -DMATRIX_BUILD_GUI=OFF -DMATRIX_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# The cross build takes the resource tools (and the tests their device simulator) from the
# Linux build, which runs on this machine.
windows-build: deps
	cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target matrixctl mkskinzip mkbanner
	cmake -S . -B build-win $(GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake -DMATRIX_HOST_TOOLS_DIR=$(CURDIR)/build/res/tools
	cmake --build build-win -j $(JOBS)

windows: windows-build
	scripts/make-windows-dist.sh build-win dist

test-windows: windows-build
	scripts/run-windows-tests.sh build build-win

gui: build
	scripts/run-gui.sh build

package: build
	cd build && cpack -G DEB

install: build
	cmake --install build --prefix $(or $(PREFIX),$(CURDIR)/dist/matrix-update)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-win
