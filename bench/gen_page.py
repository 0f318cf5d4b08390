#!/usr/bin/env python3
"""Writes one benchmark page: page.zoq and page.zot, and with --engines the same page for Twig
(page.twig) and Smarty (page.tpl) plus data.php, the data all three render. With --hand it also
writes the page as a PHP developer would by hand (hand.php, and hand-escaped.php with the
escaping call zoqc's --escape uses), the floor of the run-time benchmark (bench/runtime.py).

Shapes:
  page      template variables used --uses times each, --blocks repeated blocks with
            --block-vars variables each, filler markup, CR LF (the four sizes of the table)
  rebind    one name bound --count times in the script, used --uses times
  dupblock  one block defined --count times in the script, --copies copies in the template
  distinct  one block defined --count times in the script, --count different copies in the
            template (each definition takes the next copy)
  distinctin  the same, each copy holding a copy of an inner block defined once before
  nest      blocks nested --count deep
  hugeph    placeholders of --width name characters, --uses of them
  braces    a template of --bytes bytes of "{"
  begins    a template of "<!--BEGIN " repeated up to --bytes bytes

Names have a fixed width (v0000042), so none is a prefix of another.
"""
import argparse
import os

CRLF = "\r\n"
HTML_FLAGS = "ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8'"


def echo(expr):
    """A value printed by hand: raw and escaped."""
    return (f"<?php echo {expr};?>", f"<?php echo htmlspecialchars({expr}, {HTML_FLAGS});?>")


def name(prefix, i, count):
    return f"{prefix}{i:0{max(len(str(count)), 1)}d}"


def filler(n):
    """n bytes of markup without braces, quotes or dollars."""
    unit = "lorem ipsum dolor sit amet, "
    return (unit * (n // len(unit) + 1))[:n]


class Page:
    def __init__(self):
        self.script = ["<?php", "require __DIR__ . '/data.php';"]
        self.zot = []  # zoqc template pieces
        self.twig = []
        self.tpl = []
        self.hand = []  # (raw, escaped) pieces of the page written by hand
        self.data = {}  # template variable -> value
        self.rows = 3

    def bind(self, var):
        self.script.append(f"<<{var}<<$v['{var}']")
        self.data[var] = f"<{var}>"

    def text(self, s):
        self.zot.append(s)
        self.twig.append(s)
        self.tpl.append(s)
        self.hand.append((s, s))

    def use(self, var):
        self.zot.append("{" + var + "}")
        self.twig.append("{{ " + var + " }}")
        self.tpl.append("{$" + var + "}")
        self.hand.append(echo(f"$v['{var}']"))

    def block(self, b, bvars, inner_text):
        self.script += [f"<<*{b}"] + [f"<<<{x}<<$r['{x}']" for x in bvars]
        self.script += ["foreach ($rows as $r) {", f"<<+{b}", "}"]
        # No line end right after a tag: Twig drops it, as PHP drops one after "?>".
        self.zot.append(f"<!--BEGIN {b}-->" + inner_text(lambda x: "{" + x + "}") +
                        f"<!--END {b}-->")
        self.twig.append("{% for r in rows %}" + inner_text(lambda x: "{{ r." + x + " }}") +
                         "{% endfor %}")
        self.tpl.append("{foreach $rows as $r}" + inner_text(lambda x: "{$r." + x + "}") +
                        "{/foreach}")
        loop = "<?php foreach ($rows as $r) { ?>"
        self.hand.append(tuple(loop + inner_text(lambda x: echo(f"$r['{x}']")[i]) + "<?php } ?>"
                               for i in (0, 1)))

    def write_hand(self, out):
        """The page by hand: the data read as the zoqc page reads it, every value echoed where it
        stands, each block a foreach loop."""
        head = self.script[1] + "?>"
        for i, fname in enumerate(("hand.php", "hand-escaped.php")):
            with open(os.path.join(out, fname), "w", newline="") as f:
                f.write("<?php " + head + "".join(piece[i] for piece in self.hand))

    def write(self, out, engines):
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, "page.zoq"), "w", newline="") as f:
            f.write(CRLF.join(self.script) + CRLF)
        with open(os.path.join(out, "page.zot"), "w", newline="") as f:
            f.write("".join(self.zot))
        if engines:
            with open(os.path.join(out, "page.twig"), "w", newline="") as f:
                f.write("".join(self.twig))
            with open(os.path.join(out, "page.tpl"), "w", newline="") as f:
                f.write("".join(self.tpl))
        with open(os.path.join(out, "data.php"), "w", newline="") as f:
            f.write("<?php\n$v = [\n")
            f.writelines(f"'{k}' => '{val}',\n" for k, val in self.data.items())
            f.write("];\n$rows = [\n")
            for r in range(self.rows):
                f.write("[" + "".join(f"'{x}' => '{x}{r}', " for x in self.block_vars) + "],\n")
            f.write("];\n")


def standard(a):
    p = Page()
    vars_ = [name("v", i, a.vars) for i in range(a.vars)]
    p.block_vars = [name("c", j, a.block_vars) for j in range(a.block_vars)]
    for var in vars_:
        p.bind(var)
    total = a.vars * a.uses
    per_block = total // a.blocks if a.blocks else total + 1
    k = 0
    for u in range(a.uses):
        for var in vars_:
            p.text("<td>" + filler(a.filler))
            p.use(var)
            p.text("</td>" + CRLF)
            k += 1
            if a.blocks and k % per_block == 0 and k // per_block <= a.blocks:
                b = name("b", k // per_block, a.blocks)

                def inner(place, bv=p.block_vars):
                    return "".join(f"<li>{place(x)}</li>" + CRLF for x in bv)

                p.block(b, p.block_vars, inner)
    return p


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("out")
    ap.add_argument("--shape", default="page")
    ap.add_argument("--vars", type=int, default=40)
    ap.add_argument("--uses", type=int, default=1)
    ap.add_argument("--blocks", type=int, default=3)
    ap.add_argument("--block-vars", type=int, default=3)
    ap.add_argument("--filler", type=int, default=24)
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--copies", type=int, default=1000)
    ap.add_argument("--width", type=int, default=1000)
    ap.add_argument("--bytes", type=int, default=1 << 20)
    ap.add_argument("--engines", action="store_true", help="also write the Twig and Smarty page")
    ap.add_argument("--hand", action="store_true", help="also write the page by hand (hand.php)")
    a = ap.parse_args()
    if a.shape == "page":
        page = standard(a)
        page.write(a.out, a.engines)
        if a.hand:
            page.write_hand(a.out)
        return
    p = Page()
    p.block_vars = ["c0"]
    if a.shape == "rebind":
        p.script += [f"<<v<<$v{i}" for i in range(a.count)]
        p.text("".join("<p>{v}</p>" + CRLF for _ in range(a.uses)))
    elif a.shape == "dupblock":
        p.script += ["<<*b", "<<<c<<$c", "<<+b"] * a.count
        p.text(("<!--BEGIN b--><li>{c}</li><!--END b-->" + CRLF) * a.copies)
    elif a.shape in ("distinct", "distinctin"):
        width = len(str(a.count))
        inner = "<!--BEGIN i-->x<!--END i-->" if a.shape == "distinctin" else ""
        p.script += ["<<*i"] if inner else []
        p.script += ["<<*b", "<<<c<<$c", "<<+b"] * a.count
        p.text("".join(f"<!--BEGIN b--><li>{{c}} {i:0{width}d}{inner}</li><!--END b-->" + CRLF
                       for i in range(a.count)))
    elif a.shape == "nest":
        names = [name("b", i, a.count) for i in range(a.count)]
        for b in reversed(names):  # inner blocks first, so each renders its inner buffer
            p.script += [f"<<*{b}", f"<<<c<<$c", f"<<+{b}"]
        p.text("".join(f"<!--BEGIN {b}-->{{c}}" + CRLF for b in names) +
               "".join(f"<!--END {b}-->" + CRLF for b in reversed(names)))
    elif a.shape == "hugeph":
        v = "v" * a.width
        p.script.append(f"<<{v}<<$x")
        p.text("".join("<p>{" + v + "}</p>{" + "w" * a.width + "}" + CRLF for _ in range(a.uses)))
    elif a.shape == "braces":
        p.script.append("<<v<<$x")
        p.text("{" * a.bytes)
    elif a.shape == "begins":
        p.script += ["<<*b", "<<<c<<$c", "<<+b"]
        unit = "<!--BEGIN "
        p.text(unit * (a.bytes // len(unit)) + "<!--BEGIN b-->x<!--END b-->")
    else:
        ap.error("unknown shape " + a.shape)
    p.data = {}
    p.write(a.out, False)


if __name__ == "__main__":
    main()
