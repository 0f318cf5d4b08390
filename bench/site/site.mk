# One zoqc process per page, the way a build system runs it: make -j2 -f site.mk -C SITE
ZOQC ?= zoqc
PAGES := $(patsubst %.zoq,%.php,$(wildcard */*.zoq))
all: $(PAGES)
%.php: %.zoq %.zot
	@$(ZOQC) -q $<
