#!/usr/bin/env python3
"""Writes the fake server's answers for the benchmarks into DIR:
    make_answers.py DIR
  rows3        the old service's page with three tracking rows
  big1m        the same page with as many rows as fit in 1 MiB
  gengxin.txt  the maker's update flag: no newer version
  poll-a.json  a keyed answer with three events (those of the bench watch list)
  poll-b.json  the same with a fourth, newer event
  kuaidi100-a.json, kdniao-a.json, appcode-a.json  the three events as each
               service answers them (kuaidi100-a.json is poll-a.json)
Prints the number of rows of big1m."""

import json
import os
import sys

HEAD = ("<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=utf-8\"><title>物流跟踪</title></head>\n<body>\n<table width=\"520\" border=\"0\" "
        "cellspacing=\"0\" cellpadding=\"0\" id=\"queryResult\">\n<tr><td style='width:140px;"
        "font-weight:bold;padding:3px 8px;'>时间</td><td style='font-weight:bold;'>地点和跟踪进度"
        "</td></tr>\n").encode()
TAIL = b"</table>\n</body></html>\n"


def row(text):
    return ("<tr><td style='color:#333;padding:3px 5px;'>%s</td></tr>\n" % text).encode()


def big_page(size):
    body, rows = bytearray(HEAD), 0
    while True:
        line = row("2013-01-%02d %02d:%02d 【上海市】 快件已到达 上海转运中心 第%d站"
                   % (1 + rows // 1440 % 28, rows // 60 % 24, rows % 60, rows))
        if len(body) + len(line) + len(TAIL) > size:
            break
        body += line
        rows += 1
    body += TAIL
    return bytes(body + b" " * (size - len(body))), rows


def poll_answer(events):
    data = [{"time": t, "ftime": t, "context": c, "areaName": a, "status": s} for t, c, a, s in events]
    data.reverse()  # newest first, as the service sends it
    return json.dumps({"message": "ok", "nu": "W0001", "ischeck": "0", "com": "yuantong",
                       "status": "200", "state": "0", "condition": "F00", "data": data},
                      ensure_ascii=False).encode()


def kdniao_answer(events):
    traces = [{"AcceptTime": t, "AcceptStation": c, "Location": a} for t, c, a, s in events]
    return json.dumps({"EBusinessID": "1900001", "OrderCode": "", "ShipperCode": "YTO", "LogisticCode": "KEYED1",
                       "Success": True, "Reason": None, "State": "2", "Traces": traces},
                      ensure_ascii=False).encode()


def appcode_answer(events):
    entries = [{"time": t, "status": c} for t, c, a, s in reversed(events)]  # newest first
    return json.dumps({"status": "0", "msg": "ok", "result": {
        "number": "KEYED1", "type": "YTO", "list": entries, "deliverystatus": "1", "issign": "0",
        "expName": "圆通速递"}}, ensure_ascii=False).encode()


# The same three events as bench_support.cpp's BenchWatchList.
EVENTS = [
    ("2026-12-01 08:10:00", "【上海分拨中心】已收件", "上海", "揽收"),
    ("2026-12-01 20:42:00", "【上海分拨中心】已发出，下一站【杭州转运中心】", "上海", "在途"),
    ("2026-12-02 06:05:00", "【杭州转运中心】已收入", "杭州", "在途"),
]
NEW_EVENT = ("2026-12-02 18:30:00", "【杭州转运中心】已发出，下一站【杭州市西湖区公司】", "杭州", "在途")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        "rows3": HEAD + row("2013-01-18 21:02 【广州市】 快件已从 广州转运中心 发出")
        + row("2013-01-19 08:15 【上海市】 快件已到达 上海转运中心")
        + row("2013-01-20 09:05 【上海市】 已签收，签收人：本人") + TAIL,
        "gengxin.txt": b"1",
        "poll-a.json": poll_answer(EVENTS),
        "poll-b.json": poll_answer(EVENTS + [NEW_EVENT]),
        "kuaidi100-a.json": poll_answer(EVENTS),
        "kdniao-a.json": kdniao_answer(EVENTS),
        "appcode-a.json": appcode_answer(EVENTS),
    }
    files["big1m"], rows = big_page(1024 * 1024)
    for name, content in files.items():
        with open(os.path.join(out, name), "wb") as answer:
            answer.write(content)
    print(rows)


if __name__ == "__main__":
    main()
