# The two commands of the README: `make demo` and `make test`.
# Everything else here is a step they share.

JOBS ?= 2
BUILD := build
# Compiles go through ccache when it is there (setup.sh installs it); the page's
# emcc builds do not.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
native native-asan native32 win32 win64 fuzz: export CMAKE_C_COMPILER_LAUNCHER := $(CCACHE)
native native-asan native32 win32 win64 fuzz: export CMAKE_CXX_COMPILER_LAUNCHER := $(CCACHE)
# Clones in other folders share the cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif

.PHONY: demo test deps check-setup native native-asan native32 win32 win64 fuzz wasm web package clean

demo: native win64 web
	@mkdir -p $(BUILD)/demo
	$(BUILD)/native/tests/cli/vexmira_sample carrier $(BUILD)/demo/setup.exe
	$(BUILD)/native/cli/vexmira $(BUILD)/demo/setup.exe
	scripts/demo-dialog.sh $(BUILD)/demo/setup.exe $(BUILD)/demo.png
	node tests/web/browser_test.mjs $(BUILD)/wasm/web $(BUILD)/native/cli/vexmira \
	  $(BUILD)/native/tests/cli/vexmira_sample $(BUILD)/web-demo --screenshot $(BUILD)/web.png

test: native check-setup native-asan native32 win32 win64 fuzz web package
	ctest --preset native
	ctest --preset native-asan
	ctest --preset native32
	ctest --preset fuzz
	ctest --preset win32
	ctest --preset win64
	ctest --preset wasm
	scripts/check-package.sh

# Everything the build and the tests use comes from a package setup.sh
# installs; checked right after the native build has found it all.
check-setup: native
	scripts/check-setup.sh

# The Debian package of the command-line tool, in build/package/.
package: native
	rm -rf $(BUILD)/package
	cd $(BUILD)/native && cpack -B ../package > /dev/null
	@ls $(BUILD)/package/*.deb

deps:
	@scripts/setup.sh

# The page, in build/wasm/web/ (its browser tests compare it with the native tool).
web: wasm native

wasm: deps
	emcmake cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

native native-asan native32 win32 win64 fuzz: deps
	cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

clean:
	rm -rf $(BUILD)
