#!/usr/bin/env python3
"""Writes the sample print jobs of this folder (run again to refresh them).

  acrobat9-mac.ps     PostScript whose title Acrobat 9 on Mac OS wrote as
                      hex-encoded UTF-16: captured as "Quarterly Report.PS"
  invoice.pdf         a one-page PDF without a title: named after the
                      document name, "invoice.PDF"
  ticket-order.xpif   an XPIF job ticket followed by a PDF: "ticket-order.PDF"
                      and its ticket "ticket-order.XPF"
  japanese-title.ps   PostScript titled in Japanese by a Mac application
                      (UTF-8 bytes as octal escapes):
                      "日本語の報告書.PS" where the ANSI code page has the
                      characters (932), "_.PS" where it has not
"""
import os
import sys


def pdf(text):
    """A small valid PDF showing one line of text."""
    stream = b"BT /F1 24 Tf 72 720 Td (" + text.encode("ascii") + b") Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        b"/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += str(number).encode() + b" 0 obj\n" + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 " + str(len(objects) + 1).encode() + b"\n0000000000 65535 f \n"
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size " + str(len(objects) + 1).encode() + b" /Root 1 0 R >>\n"
    out += b"startxref\n" + str(xref).encode() + b"\n%%EOF\n"
    return bytes(out)


def postscript(header_lines, text):
    body = (
        "%%EndComments\n"
        "/Helvetica findfont 24 scalefont setfont\n"
        "72 720 moveto (" + text + ") show\n"
        "showpage\n"
        "%%EOF\n"
    )
    return ("%!PS-Adobe-3.0\n" + "".join(line + "\n" for line in header_lines) + body).encode(
        "ascii")


def hex_utf16_title(title):
    return "FEFF" + title.encode("utf-16-be").hex().upper()


def octal_escaped(title):
    """A PostScript string of the title's UTF-8 bytes, as Mac applications write it."""
    return "".join(chr(b) if 32 <= b < 127 and chr(b) not in "()\\" else "\\%03o" % b
                   for b in title.encode("utf-8"))


def main(folder):
    samples = {
        "acrobat9-mac.ps": postscript(
            [
                "%%Creator: Adobe Acrobat 9.0",
                "%ADO_DSC_Encoding: MacOS Roman",
                "%%Title: <" + hex_utf16_title("Quarterly Report") + ">",
                "%%Pages: 1",
            ],
            "Quarterly Report",
        ),
        "invoice.pdf": pdf("Invoice 2041"),
        "ticket-order.xpif": (
            b'<?xml version="1.0" encoding="UTF-8"?>\n'
            b'<xpif version="1.0" cpss-version="2.07" xml:lang="en">\n'
            b"  <job-template-attributes>\n"
            b'    <copies syntax="integer">2</copies>\n'
            b'    <sides syntax="keyword">two-sided-long-edge</sides>\n'
            b"  </job-template-attributes>\n"
            b"</xpif>\n" + pdf("Order with ticket")
        ),
        "japanese-title.ps": postscript(
            [
                "%%Creator: halvek samples",
                "%APL_DSC_Encoding: UTF8",
                "%%Title: (" + octal_escaped("日本語の報告書") + ")",
            ],
            "Japanese report",
        ),
    }
    for name, data in samples.items():
        with open(os.path.join(folder, name), "wb") as handle:
            handle.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
