# The front door: `make run` sets up, builds and starts the kit; `make test` sets up, builds
# every preset and runs every test. Builds live in build/<preset>/.
#
#   linux       native programs (GTK 3, WebKitGTK, libcurl)
#   linux-asan  the same with AddressSanitizer and UndefinedBehaviorSanitizer (unit tests)
#   win32       32-bit Windows programs (mingw-w64 i686): what the kit's users get
#   win64       the same sources as 64-bit Windows programs, so Wine can run the Windows
#               tests on machines whose kernel cannot start 32-bit programs

PRESETS := linux linux-asan win32 win64

.PHONY: all setup build test run clean dist dist-update-server
# build-<preset> and test-<preset> are pattern rules, so they are not declared phony (make skips
# pattern rules for phony targets); no file of those names ever exists.

all: build

setup:
	@bash scripts/setup.sh

build: setup $(addprefix build-,$(PRESETS))

# Code signing of the Windows programs that leave the machine (see the README, "Signed Windows
# programs"): make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem [SIGN_TIMESTAMP_URL=http://...].
# Without SIGN_CERT the programs are not signed. Every configure run states them, so that a build
# signs only when asked to.
SIGN_DEFS = -DFORMWELL_SIGN_CERT=$(if $(SIGN_CERT),$(abspath $(SIGN_CERT))) \
            -DFORMWELL_SIGN_KEY=$(if $(SIGN_KEY),$(abspath $(SIGN_KEY))) \
            -DFORMWELL_SIGN_TIMESTAMP_URL=$(SIGN_TIMESTAMP_URL)

build-%:
	cmake --preset $* $(SIGN_DEFS) >/dev/null
	cmake --build --preset $*

# Each preset's tests; the sanitizer build runs the unit tests only.
test: build
	ctest --preset linux-asan -L unit
	ctest --preset win32
	ctest --preset win64
	ctest --preset linux

test-%: setup build-%
	ctest --preset $*

run: setup build-linux
	@bash scripts/run.sh build/linux

# What the bank hands out, in dist/: the one Windows file (formwell.exe of the win32 preset, which
# carries the whole package) and the Debian package for Linux desktops.
dist: setup build-win32 build-linux
	rm -rf dist
	mkdir -p dist
	# stripped, and signed when a certificate is given: last, after the programs that it carries
	cmake --build --preset win32 --target dist_program
	cp build/win32/dist/formwell.exe dist/
	rm -f build/linux/deb/formwell_*.deb
	cmake --build --preset linux --target deb
	cp build/linux/deb/formwell_*_amd64.deb dist/
	$(MAKE) --no-print-directory dist-update-server
	@ls -l dist

# The update server's folder (version.txt, filesize.txt, table.zip) for dist/update-server/: this rule
# runs the publisher once it is part of the kit; until then it says so and adds nothing.
dist-update-server:
	@echo "dist: no update-server folder yet: the update-server publisher is not part of this kit"

clean:
	rm -rf build dist
