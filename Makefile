# The README's two commands. Both install what is missing first.
.PHONY: run test bench deps

deps:
	@bash scripts/install-deps.sh

run: deps
	@bash scripts/run.sh

test: deps
	@bash scripts/test-all.sh

bench: deps
	@bash scripts/bench.sh
