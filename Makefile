# The two commands of the README: `make demo` and `make test`.
# Everything else here is a step they share.

JOBS ?= 2
BUILD := build

.PHONY: demo test deps check-setup native native-asan native32 win32 win64 fuzz package clean

demo: native win64
	@mkdir -p $(BUILD)/demo
	$(BUILD)/native/tests/cli/vexmira_sample carrier $(BUILD)/demo/setup.exe
	$(BUILD)/native/cli/vexmira $(BUILD)/demo/setup.exe
	scripts/demo-dialog.sh $(BUILD)/demo/setup.exe $(BUILD)/demo.png

test: native check-setup native-asan native32 win32 win64 fuzz package
	ctest --preset native
	ctest --preset native-asan
	ctest --preset native32
	ctest --preset fuzz
	ctest --preset win32
	ctest --preset win64
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

native native-asan native32 win32 win64 fuzz: deps
	cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

clean:
	rm -rf $(BUILD)
