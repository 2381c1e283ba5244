#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are kept in the repository; run this again after changing it.
GBK forms come from Python's own 'gbk' codec."""
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent
BOM = b"\xef\xbb\xbf"

ROW = "<tr><td style='color:#333;padding:3px 5px;'>{}</td></tr>\n"
PAGE = (
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset={cs}\">"
    "<title>物流跟踪</title></head>\n<body>\n<table id=\"queryResult\">\n"
    "<tr><td style='font-weight:bold;padding:3px 8px;'>时间</td>"
    "<td style='font-weight:bold;'>地点和跟踪进度</td></tr>\n{rows}</table>\n</body></html>\n"
)
TRACKING = [
    "2013-01-18 21:02 【广州市】 快件已从 广州转运中心 发出",
    "2013-01-19 08:15 【上海市】 快件已到达 上海转运中心",
    "2013-01-20 09:05 【上海市】 已签收，签收人：本人",
]


def page(cs: str, rows: list[str]) -> str:
    return PAGE.format(cs=cs, rows="".join(ROW.format(r) for r in rows))


def marker_page(sentence: str) -> str:
    return f"<html><head><meta charset=\"utf-8\"></head><body><p>{sentence}</p></body></html>"


def answers() -> dict[str, bytes]:
    seeds: dict[str, bytes] = {}
    utf8_page = page("utf-8", TRACKING)
    seeds["rows3-utf8"] = utf8_page.encode("utf-8")
    seeds["rows3-gbk"] = page("gb2312", TRACKING).encode("gbk")
    seeds["rows3-bom"] = BOM + utf8_page.encode("utf-8")
    seeds["rows-markup"] = page(
        "utf-8", ["2013-01-19 10:00 派件员：<a href=x>link</a> 电话 13800000000", "已签收"]
    ).encode("utf-8")
    seeds["rows-one-line"] = (
        "时间<td style='padding:3px 5px;'>a</td><td style='padding:3px 5px;'>b</td>"
    ).encode("utf-8")
    seeds["rows-empty-cell"] = "时间 3px 5px;'></td><td style='3px 5px;'>x</td>\n3px 5px;'></td>\n".encode("utf-8")
    seeds["rows-line-breaks"] = "时间\n3px 5px;'>a\nb</td>\n3px 5px;'>c\rd</td>\n3px 5px;'>e\ff</td>\n3px 5px;'>g</".encode("utf-8")
    seeds["rows-unclosed"] = ("时间" + "3px 5px;'>" * 40 + "x<\n3px 5px;'>y</").encode("utf-8")
    seeds["rows-capitals"] = "时间 3PX 5PX;'>no</td> 3px 5px;'>yes</td>".encode("utf-8")
    seeds["rows-invalid-bytes"] = "时间 3px 5px;'>".encode("utf-8") + b"\xff\xfe\x80" + b"</td>"
    seeds["rows-gbk-invalid"] = "时间 3px 5px;'>".encode("gbk") + b"\x81\x30\xff" + b"</td>"
    seeds["marker-wrong"] = marker_page("您输入的单号不正确，请核对后重试。").encode("utf-8")
    seeds["marker-wrong-gbk"] = marker_page("您输入的单号不正确，请核对后重试。").encode("gbk")
    seeds["marker-abnormal"] = marker_page("查询异常").encode("utf-8")
    seeds["marker-notrecorded"] = marker_page("该单号暂未收录").encode("utf-8")
    seeds["marker-captcha"] = marker_page("请输入验证码").encode("gbk")
    seeds["marker-abnormal-and-time"] = (marker_page("异常") + page("utf-8", TRACKING[:1])).encode("utf-8")
    seeds["marker-wrong-and-notrecorded"] = marker_page("未收录 不正确").encode("utf-8")
    seeds["no-marker"] = marker_page("欢迎使用").encode("utf-8")
    seeds["empty"] = b""
    seeds["ascii-time-only"] = b"3px 5px;'>ascii</td>"
    return seeds


def bodies() -> dict[str, bytes]:
    seeds = {
        "empty": b"",
        "digit-two": b"2",
        "bom-partial": b"\xef\xbb",
        "bom-only": BOM,
        "bom-invalid": BOM + b"\xff\xc0\x80\xed\xa0\x80",
        "bom-twice": BOM + BOM + b"x",
        "ascii": b"ABC",
        "two-byte": b"\xc3\xa9A",
        "three-byte": b"\xe4\xb8\xad",
        "lead-at-end": b"AB\xc3",
        "short-three": b"A\xe4\xb8",
        "four-byte": b"\xf0\x9f\x98\x80",
        "overlong": b"\xc0\x80A",
        "surrogate": b"\xed\xa0\x80\xed\xbf\xbfA",
        "stray-continuation": b"A\x80\xbf",
        "gbk-pairs-as-utf8": b"\xc4\x80\xd0\xbfA",
        "euro-and-ff": b"\x80\xffA\x81",
        "gbk-private-use": b"\xaa\xa1\xf8\xa1\xa1\x40\xa2\xab\xfe\x50",
        "gbk-bad-trail": b"\x81\x30\x81\x7f\xfe\xff",
        "gbk-text": "中国快递单号查询，时间：2013年".encode("gbk"),
        "utf8-text": "中国快递单号查询，时间：2013年 😀".encode("utf-8"),
    }
    seeds["rows3-gbk"] = page("gb2312", TRACKING).encode("gbk")
    return seeds


def numbers() -> dict[str, bytes]:
    # First byte: carrier index (mod 10); the rest: the number as typed.
    def seed(index: int, number: bytes) -> bytes:
        return bytes([index]) + number

    return {
        "yunda-digits": seed(4, b"1202516745301"),
        "ems-gongsi9": seed(9, b"gongsi9"),
        "zhongtong-danhao": seed(0, b"danhao"),
        "spaces": seed(1, b"  12 34  "),
        "only-spaces": seed(2, b"   "),
        "ampersand-hash": seed(3, b"12&com=x#frag"),
        "percent-plus": seed(5, b"%41+%zz%"),
        "brackets-equals": seed(6, b"[]=?/"),
        "chinese-utf8": seed(7, "单号１２３".encode("utf-8")),
        "chinese-gbk": seed(8, "单号".encode("gbk")),
        "controls": seed(9, b"\x00\t\r\n\x7f"),
        "high-bytes": seed(10, b"\x80\xff\xfe"),
        "empty-number": seed(3, b""),
    }


def main() -> int:
    corpus = HERE / "corpus"
    for target, seeds in (("fuzz_decode", bodies()), ("fuzz_answer", answers()),
                          ("fuzz_query_url", numbers())):
        folder = corpus / target
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
