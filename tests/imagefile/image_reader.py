"""Independent reader of the image files the SDK writes (Debian's python3-pil).

  image_reader.py pixels FILE OUT [FILE OUT ...]
                                    prints "FORMAT MODE WIDTH HEIGHT" per file and writes its
                                    decoded pixels (grey bytes, or R, G, B) to OUT
  image_reader.py jpeg FILE REF [FILE REF ...]
                                    prints "MODE WIDTH HEIGHT MEAN_ERROR QMIN QMAX" per file: the
                                    mean absolute difference from REF (pixels as above) and the
                                    smallest and largest entry of the quantization tables
"""
import sys

from PIL import Image


def pixels(path, out):
    with Image.open(path) as im:
        im.load()
        data = im.tobytes()
        print(im.format, im.mode, im.width, im.height)
    with open(out, "wb") as f:
        f.write(data)


def jpeg(path, ref):
    with Image.open(path) as im:
        im.load()
        data = im.tobytes()
        tables = [v for table in im.quantization.values() for v in table]
        mode, width, height = im.mode, im.width, im.height
    with open(ref, "rb") as f:
        expected = f.read()
    if len(expected) != len(data):
        print(mode, width, height, "size-mismatch", min(tables), max(tables))
        return
    error = sum(abs(a - b) for a, b in zip(data, expected)) / len(data)
    print(mode, width, height, "%.3f" % error, min(tables), max(tables))


if __name__ == "__main__":
    if sys.argv[1] == "pixels":
        for i in range(2, len(sys.argv), 2):
            pixels(sys.argv[i], sys.argv[i + 1])
    elif sys.argv[1] == "jpeg":
        for i in range(2, len(sys.argv), 2):
            jpeg(sys.argv[i], sys.argv[i + 1])
    else:
        sys.exit("unknown command " + sys.argv[1])
