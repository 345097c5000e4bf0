# `make` alone lists the targets. Every target but help installs what is missing first.
.PHONY: help run test test-x86 dist bench deps

help:
	@echo "make run         build VorseFix.exe and open it under Wine, on a prefix with harmless"
	@echo "                 stand-ins for infected files (make run CLEAN=1: an untouched prefix)"
	@echo "make test        build every preset and run every test"
	@echo "make test-x86    build the Windows presets and run the 32-bit build's tests only"
	@echo "                 (in an emulated machine where the kernel refuses 32-bit programs)"
	@echo "make dist        build the release zips, their SHA256SUMS and debug files in dist/"
	@echo "                 (signed when VORSE_SIGN_CERT and VORSE_SIGN_KEY name PEM files)"
	@echo "make bench       time vorsescan against YARA and a plain read of the same files"
	@echo "make deps        install the Debian packages that building and testing need"

deps:
	@bash scripts/install-deps.sh

run: deps
	@VORSE_RUN_CLEAN="$(CLEAN)" bash scripts/run.sh

test: deps
	@bash scripts/test-all.sh

test-x86: deps
	@bash scripts/test-all.sh windows-x86-build windows-x64-build wine-x86

dist: deps
	@bash scripts/dist.sh

bench: deps
	@bash scripts/bench.sh
