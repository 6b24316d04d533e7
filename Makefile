# The two commands of the README: `make demo` and `make test`; `make dist`
# for the release files. Everything else here is a step they share.

JOBS ?= 2
BUILD := build
# The one version: the CMake project's.
VERSION := $(shell sed -n 's/^project.Vexmira VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# Compiles go through ccache when it is there (setup.sh installs it); the page's
# emcc builds do not.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
native native-asan native32 win32 win64 fuzz dev: export CMAKE_C_COMPILER_LAUNCHER := $(CCACHE)
native native-asan native32 win32 win64 fuzz dev: export CMAKE_CXX_COMPILER_LAUNCHER := $(CCACHE)
# Clones in other folders share the cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif
# Every date the builds write (manual pages, package members, wheel members)
# is the last commit's, so two builds of one commit give the same bytes.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

# Installing packages (apt-get, binfmt_misc, npm ci) is for the two commands
# alone, which promise to run on a fresh machine; a build or `make dist` on
# its own takes the machine as it is.
SETUP := $(if $(filter demo test,$(or $(MAKECMDGOALS),demo)),deps)

.PHONY: demo test dist deps check-setup dev native native-asan native32 win32 win64 fuzz wasm web package clean

demo: native win64 web
	@mkdir -p $(BUILD)/demo
	$(BUILD)/native/tests/cli/vexmira_sample carrier $(BUILD)/demo/setup.exe
	$(BUILD)/native/cli/vexmira $(BUILD)/demo/setup.exe
	scripts/demo-dialog.sh $(BUILD)/demo/setup.exe $(BUILD)/demo.png
	node tests/web/browser_test.mjs $(BUILD)/wasm/web $(BUILD)/native/cli/vexmira \
	  $(BUILD)/native/tests/cli/vexmira_sample $(BUILD)/web-demo --screenshot $(BUILD)/web.png

test: native check-setup native-asan native32 win32 win64 fuzz web package dist
	scripts/check-labels.sh $(addprefix $(BUILD)/,native native-asan native32 fuzz win32 win64 wasm)
	ctest --preset native
	ctest --preset native-asan
	ctest --preset native32
	ctest --preset fuzz
	ctest --preset win32
	ctest --preset win64
	ctest --preset wasm
	scripts/check-package.sh
	scripts/check-dist.sh
	scripts/check-reproducible.sh

# Everything the build and the tests use comes from a package setup.sh
# installs; checked right after the native build has found it all.
check-setup: native
	scripts/check-setup.sh

# The release files in dist/: the Windows zips, the .deb, the wheel and
# sdist, the page and the source tarball, with SHA256SUMS.
dist: native win32 win64 wasm package
	scripts/dist.sh $(VERSION)

# The Debian package of the command-line tool, in build/package/.
package: native
	rm -rf $(BUILD)/package
	cd $(BUILD)/native && cpack -B ../package > /dev/null
	@ls $(BUILD)/package/*.deb

deps:
	@scripts/setup.sh

# The page, in build/wasm/web/ (its browser tests compare it with the native tool).
web: wasm native

wasm: $(SETUP)
	emcmake cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

# dev: the core, the tool and the unit tests alone (`ctest --preset unit`).
native native-asan native32 win32 win64 fuzz dev: $(SETUP)
	cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

clean:
	rm -rf $(BUILD) dist
