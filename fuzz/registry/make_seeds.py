#!/usr/bin/env python3
"""Writes fuzz/registry/seeds: hive files as the registry writes them and as
people edit them (the settings the programs keep, every value type, escapes,
names in other scripts, blanks and CR LF line ends, keys written with every
parent on a line of its own, a root value, keys too deep or with names too
long to be kept). The deep keys kept are 64 levels, not the 512 allowed: every
call on a key walks its whole path, and runs stay short.

    python3 fuzz/registry/make_seeds.py   (rewrites the folder)
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
HEAD = "; Quillet device registry\n"

SEEDS = {
    "settings.reg": HEAD + "[Software\\Marrowby\\Quillet Reach\\Settings]\n"
    "\"Root\"=sz:\"\\\\Program Files\\\\Quillet\"\n\"VentrelLog\"=dword:00000001\n\"Blob\"=hex(3):01,ff\n",
    "types.reg": HEAD + "[Types]\n\"sz\"=sz:\"a \\\"quoted\\\" line\\nnext\\ttab\\x01\"\n\"dword\"=dword:deadbeef\n"
    "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n\"none\"=hex(0):\n\"expand\"=hex(2):25,00,00,00\n"
    "\"odd sz\"=hex(1):41,00,00\n\"\"=sz:\"default\"\n",
    "unicode.reg": HEAD + "[Caf\u00e9\\\u65e5\u672c\\\u0417\u0430\u043f\u0438\u0441\u0438]\n"
    "\"\u00e9t\u00e9\"=sz:\"\u65e5\u672c\u8a9e \U0001f600\"\n",
    "edited.reg": "; edited by hand\r\n[System\\Explorer\\Shell Folders]\r\n"
    "\"Program Files\"=sz:\"\\\\Programme\"\r\ngarbage line\r\n\"Count\"=dword:0000002a\r\n"
    "[ Spaced \\ Names ]\r\n\"x = y\"=sz:\" v \"\r\n[Unclosed\r\n\"Lost\"=dword:1\r\n",
    "every-parent.reg": HEAD + "[Software]\n[Software\\Marrowby]\n[Software\\Marrowby\\Quillet Reach]\n"
    "[Software\\Marrowby\\Quillet Reach\\Channels]\n[Software\\Marrowby\\Quillet Reach\\Channels\\Empty]\n"
    "[Software\\Marrowby\\Quillet Reach\\Settings]\n\"Root\"=sz:\"x\"\n[software\\MARROWBY\\other]\n",
    "root-value.reg": HEAD + "[]\n\"OnRoot\"=dword:00000007\n[Child]\n",
    "panels.reg": HEAD + "[Software\\HandsetMaker\\PanelManager\\Panels\\Quillet]\n\"Name\"=sz:\"Quillet\"\n"
    "\"Path\"=sz:\"\\\\Windows\\\\Corvane.dll\"\n\"Class\"=sz:\"WCE_QuilletMainWnd\"\n"
    "\"Process\"=sz:\"\\\\Program Files\\\\Quillet\\\\Quillet.exe\"\n",
    "deep.reg": HEAD + "[" + "\\".join("k" for _ in range(520)) + "]\n\"Deep\"=dword:1\n["
    + "\\".join("k" for _ in range(64)) + "]\n\"Deep\"=dword:2\n",
    "long-names.reg": HEAD + "[Keep\\" + "a" * 255 + "]\n\"Kept\"=dword:1\n[Lost\\" + "b" * 256
    + "]\n\"Gone\"=dword:2\n",
}


def main():
    path = os.path.join(HERE, "seeds")
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for name, text in SEEDS.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
