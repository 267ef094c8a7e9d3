#!/bin/bash
# Builds a mixed office corpus in DIR: photos (JPEG) and screenshots (PNG) made by ImageMagick,
# a ZIP of photos, docx/xlsx-like ZIPs of XML, CP932 CSV, notes, random data and binaries
# from /usr/bin; and DIR/office64, the files concatenated and cut to 64 MiB, as one large file.
#   make_office.sh DIR
set -euo pipefail
dir=${1:?usage: make_office.sh DIR}
mkdir -p "$dir/files"
cd "$dir/files"
for i in $(seq 1 12); do
  convert -size 1600x1200 plasma:fractal -seed "$i" -quality 88 "photo$i.jpg" 2>/dev/null ||
    convert -size 1600x1200 -seed "$i" plasma: -quality 88 "photo$i.jpg"
done
for i in 1 2 3; do
  convert -size 1280x800 gradient:white-navy -fill orange \
    -draw "rectangle 40,120 $((400 * i)),700" -draw "circle 640,400 700,$((300 + 50 * i))" "screen$i.png"
done
zip -qj photos.zip photo1.jpg photo2.jpg photo3.jpg
python3 - <<'PY'
import random, zipfile
random.seed(7)
names = ["山田", "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "中村"]
items = ["請求書", "見積書", "納品書", "発注書"]
rows = ["番号,氏名,件名,金額,日付"]
for i in range(120000):
    rows.append(f"{i},{random.choice(names)},{random.choice(items)},{random.randint(1000, 999999)},2026-{random.randint(1,12):02d}-{random.randint(1,28):02d}")
open("sales.csv", "wb").write("\r\n".join(rows).encode("cp932"))
notes = "\n".join(f"議事録 {i}: {random.choice(names)}さんが{random.choice(items)}を確認しました。" for i in range(20000))
open("notes.txt", "wb").write(notes.encode("utf-8"))
for kind in ("docx", "xlsx"):
    with zipfile.ZipFile(f"report.{kind}", "w", zipfile.ZIP_DEFLATED) as z:
        body = "".join(f"<w:p><w:r><w:t>{random.choice(items)} {i} {random.choice(names)}</w:t></w:r></w:p>" for i in range(40000))
        z.writestr("word/document.xml", f"<?xml version='1.0'?><w:document><w:body>{body}</w:body></w:document>")
        z.writestr("[Content_Types].xml", "<Types/>")
PY
head -c 4000000 /dev/urandom > random.bin
for b in gdb bash perl python3 git; do p=$(command -v "$b" || true); [ -n "$p" ] && cp -L "$p" "bin_$b"; done
cd ..
# One large file: the corpus over and over (the photos, archives and random data do not
# compress; the CSV, notes, XML and binaries do).
: > office64
while [ "$(stat -c %s office64)" -lt 67108864 ]; do cat files/* >> office64; done
truncate -s 67108864 office64
