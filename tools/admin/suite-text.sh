# Shell functions that turn the UTF-8 sources of an installation's texts
# into the files the suite reads.  Sourced by kestrova-admin (installed in
# share/kestrova beside the installation data) and by scripts/make-root.

# The suite keeps its text files in code page 850 (858: with the euro) with
# CR LF line ends; our sources are UTF-8.
to_suite() { sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t CP858 > "$2"; }
to_suite_stdin() { sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t CP858 > "$1"; }

# Help: each text becomes the console's records of 80 bytes (code page 858,
# no line ends; {h} {u} {r} become the colour switches 30, 31 and 16) and an
# HTML page for the start program.
to_help_records() {
  sed 's/\r$//' "$1" | iconv -f UTF-8 -t CP858 |
    LC_ALL=C awk '{ gsub(/\{h\}/, "\036"); gsub(/\{u\}/, "\037"); gsub(/\{r\}/, "\020");
                    printf "%-80s", substr($0, 1, 80) }' > "$2"
}
to_help_page() {
  {
    echo "<!DOCTYPE html><html lang=\"ca\"><head><meta charset=\"utf-8\"><title>$3</title></head><body><pre>"
    sed 's/\r$//; s/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' "$1" |
      awk '{ while (match($0, /\{[hur]\}/)) { m = substr($0, RSTART + 1, 1); t = (m == "h") ? "b" : (m == "u") ? "u" : "mark";
               open[m] = !open[m]; $0 = substr($0, 1, RSTART - 1) (open[m] ? "<" t ">" : "</" t ">") substr($0, RSTART + 3) }
             delete open; print }'
    echo "</pre></body></html>"
  } > "$2"
}
