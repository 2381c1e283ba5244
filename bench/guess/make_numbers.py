#!/usr/bin/env python3
"""Writes numbers.tsv: real-shaped tracking numbers with their couriers and
where each came from. Published examples are taken as they are; the other
rows follow a published shape with digits drawn at random (fixed seed), in
rough proportion to each courier's share of today's parcels.

    python3 bench/guess/make_numbers.py > bench/guess/numbers.tsv
"""
import random

SOURCES = """\
# Sources (each row names one):
#   K1  快递100, 实时快递单号查询技术文档 (api.kuaidi100.com/document/5f0ffb5ebc8da837cbd8aefc): request sample "em263999513jp" (EMS)
#   K2  快递100's Java SDK sample, github.com/kuaidi100-api/java-demo src/test/java/BaseServiceTest.java:
#       YT9383342193097 (圆通), 4311159956248 (韵达), 773039762404825 (申通)
#   K3  快递100's PHP SDK sample, github.com/kuaidi100-api/php-demo src/synquery.php: 3950055201640 (韵达)
#   V1  github.com/BF-zh/Courier-Validation, test/index.test.ts examples and src/pattern/*.ts shapes:
#       中通 7[3-68]+12 digits, 圆通 YT+13, 极兔 JT+13, 顺丰 SF+13, 申通 77/43+12..15, 韵达 [34]+14 or 5+12,
#       德邦 DPK+12, 京东 JD+2 letters or digits+11, 邮政 P+letter+11 or [981]+12, 菜鸟 621+12
#   H1  github.com/phillip2019/hive-third-functions UDFLogisticNoValid.java, examples in its main() and shapes:
#       申通 77316523125896, 韵达 462598779470531, 邮政 1240921381750 and 4309597495550, 极兔 JT0006968326954
#       and JT3002232682242, 德邦 DPK364112047425 and DPK300585915441, 京东 JDVA11408814483, 壹米滴答 106027097895,
#       安能 300527476792, 中通快运 202197601431; shapes of 宅急送 (ZJS+12, A+12, 42/16+8), EMS (10/11, 50/51,
#       95/97 + 11; 2 letters+9 digits+2 letters), 优速 (VIP+9, V+11, 9001+8), 速尔 (SUR+12), 天天 (TT+13,
#       66/88+10, 995/998+9), 百世 (5+13..14, 02/000 + digits)
#   P1  a public Python module "快递单号正则表达式" quoting the couriers' own sites: 顺丰 12 digits (old),
#       德邦 8 to 10 digits, 全峰 12 characters, 宅急送 10 characters
#   R   this program's README examples: YT2588814371952, SF1408823456721, 75312098764412, JT0001234567890
#   U1  UPS's published tracking number form 1Z + 16 (its own documentation's sample 1Z999AA10123456784)
#   D1  DHL Express waybill numbers: 10 digits (DHL's published form)
#   F1  丰网速运's numbers begin FW (a public courier prefix list); the length is not published
#   E1  Universal Postal Union S10 form: 2 letters, 8 digits, a check digit, the country (CN): R… registered
# "shape:X" rows follow the shape from source X with random digits.
"""

EXAMPLES = [
    ("73610555582883", "zhongtong", "V1"), ("75312098764412", "zhongtong", "R"),
    ("YT9383342193097", "yuantong", "K2"), ("YT8962646785389", "yuantong", "V1"),
    ("YT2588814371952", "yuantong", "R"),
    ("463431409940372", "yunda", "V1"), ("462598779470531", "yunda", "H1"), ("3950055201640", "yunda", "K3"),
    ("4311159956248", "yunda", "K2"),
    ("773277027280336", "shentong", "V1"), ("773039762404825", "shentong", "K2"),
    ("77316523125896", "shentong", "H1"),
    ("JT5261988016578", "jtexpress", "V1"), ("JT0006968326954", "jtexpress", "H1"),
    ("JT3002232682242", "jtexpress", "H1"), ("JT0001234567890", "jtexpress", "R"),
    ("SF1385628716739", "shunfeng", "V1"), ("SF1408823456721", "shunfeng", "R"),
    ("1207119765021", "youzhengguonei", "V1"), ("1240921381750", "youzhengguonei", "H1"),
    ("4309597495550", "youzhengguonei", "H1"),
    ("JDX024407261700", "jd", "V1"), ("JDVA11408814483", "jd", "H1"),
    ("em263999513jp", "ems", "K1"),
    ("DPK202252612836", "debangkuaidi", "V1"), ("DPK364112047425", "debangkuaidi", "H1"),
    ("DPK300585915441", "debangkuaidi", "H1"),
    ("300527476792", "annengwuliu", "H1"), ("202197601431", "zhongtongkuaiyun", "H1"),
    ("106027097895", "yimidida", "H1"), ("1Z999AA10123456784", "ups", "U1"),
]

# (courier, source, count, shape); a shape is literal text where "#" is a
# random digit, "@" a random capital letter and "[..]" one of its characters.
SHAPES = [
    ("zhongtong", "V1", 8, "73############"), ("zhongtong", "V1", 8, "75############"),
    ("zhongtong", "V1", 4, "76############"), ("zhongtong", "V1", 4, "78############"),
    ("yuantong", "V1", 19, "YT#############"),
    ("yunda", "V1", 8, "43#############"), ("yunda", "V1", 5, "46#############"),
    ("yunda", "V1", 2, "31#############"),
    ("shentong", "V1", 13, "77#############"),
    ("jtexpress", "V1", 11, "JT#############"),
    ("shunfeng", "V1", 10, "SF#############"), ("shunfeng", "P1", 1, "[2-9]###########"),
    ("youzhengguonei", "V1", 4, "98###########"), ("youzhengguonei", "V1", 2, "99###########"),
    ("youzhengguonei", "V1", 1, "96###########"), ("youzhengguonei", "V1", 1, "P@###########"),
    ("youzhengguonei", "H1", 1, "11###########"),
    ("jd", "V1", 2, "JDX############"), ("jd", "V1", 2, "JDV@###########"), ("jd", "V1", 1, "JD0############"),
    ("ems", "H1", 2, "10###########"), ("ems", "H1", 1, "11###########"), ("ems", "H1", 1, "50###########"),
    ("ems", "H1", 1, "E@#########CN"),
    ("danniao", "V1", 3, "621############"),
    ("fengwang", "F1", 2, "FW#############"),
    ("annengwuliu", "H1", 1, "3###########"), ("zhongtongkuaiyun", "H1", 1, "2###########"),
    ("yimidida", "H1", 1, "1###########"),
    ("zhaijisong", "H1", 1, "ZJS############"), ("zhaijisong", "H1", 1, "A############"),
    ("zhaijisong", "H1", 1, "42########"),
    ("youshuwuliu", "H1", 1, "VIP#########"), ("youshuwuliu", "H1", 1, "9001########"),
    ("suer", "H1", 1, "SUR############"),
    ("debangwuliu", "P1", 1, "########"), ("debangwuliu", "P1", 1, "3#########"),
    ("huitongkuaidi", "H1", 1, "55############"), ("huitongkuaidi", "H1", 1, "02###########"),
    ("tiantian", "H1", 1, "TT66###########"), ("tiantian", "H1", 1, "66##########"),
    ("quanfengkuaidi", "P1", 1, "0###########"),
    ("youzhengguoji", "E1", 1, "R@#########CN"),
    ("dhl", "D1", 1, "5#########"),
]


def fill(shape, pick):
    out, at = [], 0
    while at < len(shape):
        c = shape[at]
        if c == "#":
            out.append(pick("0123456789"))
        elif c == "@":
            out.append(pick("ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
        elif c == "[":
            close = shape.index("]", at)
            low, high = shape[at + 1], shape[close - 1]
            out.append(pick("".join(chr(x) for x in range(ord(low), ord(high) + 1))))
            at = close
        else:
            out.append(c)
        at += 1
    return "".join(out)


def main():
    rng = random.Random(19)
    print(SOURCES, end="")
    print("number\tcourier\tsource")
    for number, courier, source in EXAMPLES:
        print("%s\t%s\t%s" % (number, courier, source))
    for courier, source, count, shape in SHAPES:
        for _ in range(count):
            print("%s\t%s\tshape:%s" % (fill(shape, rng.choice), courier, source))


if __name__ == "__main__":
    main()
