# Quillbox: the two commands of the README, and the builds behind them.
#   make run     install what the command-line build needs, build it, show the bundled example's layout
#   make test    install what is missing, build the native, sanitizer, Windows and fuzz
#                builds, run every test; one summary line per run, then the total
#   make gui     run the desktop program under Wine on the bundled example
#   make python  install what the Python module needs, build it, install it for Debian's python3
#   make dist    build/dist/quillbox-VERSION-win32.zip, the Windows download
#   make screenshot  refresh docs/screenshot.png and docs/data-window.png from the screenshot tests
#   make test-win64, make screenshot64  the same window tests and screenshots on a 64-bit
#                build under Wine64, where the kernel cannot run the 32-bit program
#   make test-win64-gui  only the window tests on that build (what `make test` runs there)
# Each build says one line; its configure and compiler output goes to build/NAME.log.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
EXAMPLE ?= examples/CUSTMAST.cpy
WINE = bash scripts/wine-env build/win/wineprefix
XVFB = xvfb-run -a -s "-screen 0 1280x1024x24"

ASAN_FLAGS   = -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON -DQB_BENCH=OFF
WIN_FLAGS    = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DQB_BENCH=OFF
# ccache where it is installed: the 64-bit build stands in for the window tests of every
# `make test` on machines without 32-bit programs, mostly from its cache.
CCACHE       = $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The native build through ccache as well: the test of the README's commands builds a
# copy of this tree, whose compiler runs are then this build's.
NATIVE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CCACHE)
WIN64_FLAGS  = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DQB_BENCH=OFF $(CCACHE)
# `wine` meaning Wine64, for the 64-bit stand-in of the Windows build.
WINE64_PATH  = PATH=$(abspath build/w64/wine64):$$PATH
FUZZ_FLAGS   = -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQB_FUZZ=ON -DQB_BENCH=OFF

# $(call build,DIR,CMAKE FLAGS[,--target T]): configure and build build/DIR quietly.
define build
	@bash scripts/quiet-build $(1) $(2) -- $(3) -j$(JOBS)
endef

.PHONY: run python test gui dist screenshot deps native asan win fuzz test-native test-asan \
        test-win test-fuzz bench clean win64 win64-wine win64-gui test-win64 test-win64-gui screenshot64

run:
	@bash scripts/install-deps native
	$(call build,native,$(NATIVE_FLAGS),--target quillbox-cli)
	@build/native/cli/quillbox-cli layout $(EXAMPLE)

# The Python module into /usr/local/lib/python3.X/dist-packages, where Debian's
# python3 finds it (PYTHON_PREFIX=DIR installs it under DIR instead, for a python3
# whose PYTHONPATH names DIR/lib/python3.X/dist-packages).
python:
	@bash scripts/install-deps python
	$(call build,native,$(NATIVE_FLAGS),--target quillbox_python)
	@cmake --install build/native --component python $(if $(PYTHON_PREFIX),--prefix "$(PYTHON_PREFIX)") >>build/native.log
	@/usr/bin/python3 -c "import quillbox; print('quillbox', quillbox.__file__)"

test: deps
	@bash scripts/run-tests

deps:
	@bash scripts/install-deps

native:
	$(call build,native,$(NATIVE_FLAGS))

asan:
	$(call build,asan,$(ASAN_FLAGS))

win:
	$(call build,win,$(WIN_FLAGS))

fuzz:
	$(call build,fuzz,$(FUZZ_FLAGS),--target fuzz_targets)

# The desktop program built for 64-bit Windows and tested under Wine64: where the kernel
# cannot run 32-bit code (and so no 32-bit Wine), its window tests and screenshots run
# on this build of the same sources.
win64: win64-wine
	$(call build,w64,$(WIN64_FLAGS))

# Only the programs the window tests run.
win64-gui: win64-wine
	$(call build,w64,$(WIN64_FLAGS),--target Quillbox gui_window_test screenshot_probe)

win64-wine:
	@bash scripts/install-deps win64
	@mkdir -p build/w64/wine64
	@printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$$@"\n' >build/w64/wine64/wine
	@cp build/w64/wine64/wine build/w64/wine64/wine-stable   # what winepath and its kin call
	@printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$$@"\n' >build/w64/wine64/wineserver
	@chmod +x build/w64/wine64/wine build/w64/wine64/wine-stable build/w64/wine64/wineserver

# The zip of `make dist` is the 32-bit program's: its test is not run on this build.
test-win64: win64
	cd build/w64 && $(WINE64_PATH) $(XVFB) ctest --output-on-failure -E dist_zip

# The window tests alone, their groups on displays of their own at once (`make test`
# runs this where 32-bit programs cannot execute).
test-win64-gui: win64-gui
	$(WINE64_PATH) bash scripts/run-window-tests build/w64

screenshot64: win64
	cd build/w64 && $(WINE64_PATH) $(XVFB) ctest --output-on-failure -R 'wine_prefix|gui_screenshot'
	cp build/w64/tests/gui/screenshot-fitted.png docs/screenshot.png
	cp build/w64/tests/gui/data-window.png docs/data-window.png

test-native: native
	cd build/native && ctest --output-on-failure -j$(JOBS)

test-asan: asan
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

test-win: win
	cd build/win && $(XVFB) ctest --output-on-failure

test-fuzz: fuzz
	bash scripts/run-fuzz build/fuzz

bench: native
	@for b in build/native/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

gui: deps win
	$(WINE) wine build/win/app/Quillbox.exe $(abspath $(EXAMPLE))

dist: deps win
	@bash scripts/make-dist build/win build/dist

# Refreshes docs/screenshot.png (the main window with its columns fitted) and
# docs/data-window.png from the screenshot tests' pictures.
screenshot: deps win
	cd build/win && $(XVFB) ctest --output-on-failure -R 'wine_prefix|gui_screenshot'
	cp build/win/tests/gui/screenshot-fitted.png docs/screenshot.png
	cp build/win/tests/gui/data-window.png docs/data-window.png

clean:
	rm -rf build
