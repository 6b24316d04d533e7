# The two commands of the README: `make demo` and `make test`.
# Everything else here is a step they share.

JOBS ?= 2
BUILD := build

.PHONY: demo test deps native native-asan win32 win64 fuzz package clean

demo: native win64
	@mkdir -p $(BUILD)/demo
	$(BUILD)/native/tests/cli/vexmira_sample carrier $(BUILD)/demo/setup.exe
	$(BUILD)/native/cli/vexmira $(BUILD)/demo/setup.exe
	scripts/demo-dialog.sh $(BUILD)/demo/setup.exe $(BUILD)/demo.png

test: native native-asan win32 win64 fuzz package
	ctest --preset native
	ctest --preset native-asan
	ctest --preset fuzz
	ctest --preset win32
	ctest --preset win64
	scripts/check-package.sh

# The Debian package of the command-line tool, in build/package/.
package: native
	rm -rf $(BUILD)/package
	cd $(BUILD)/native && cpack -B ../package > /dev/null
	@ls $(BUILD)/package/*.deb

deps:
	@scripts/setup.sh

native native-asan win32 win64 fuzz: deps
	cmake --preset $@ > /dev/null
	cmake --build --preset $@ -j $(JOBS)

clean:
	rm -rf $(BUILD)
