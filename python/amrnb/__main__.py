"""python3 -m amrnb convert-tree SOURCE_DIR DEST_DIR [--jobs N] [--scheduler ADDRESS] [--amr]"""

import argparse
import sys

from . import tree


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m amrnb", description="AMR-NB recordings.")
    commands = parser.add_subparsers(dest="command", required=True)
    convert = commands.add_parser(
        "convert-tree", help="convert a folder tree as amrconv does, file by file",
        description=tree.__doc__.split("\n\n", 2)[2], formatter_class=argparse.RawTextHelpFormatter)
    convert.add_argument("source_dir", metavar="SOURCE_DIR")
    convert.add_argument("dest_dir", metavar="DEST_DIR")
    convert.add_argument("--jobs", type=int, default=None, metavar="N",
                         help="local worker processes (default: the machine's cores)")
    convert.add_argument("--scheduler", metavar="ADDRESS",
                         help="a Dask scheduler, tcp://HOST:PORT, instead of local processes")
    convert.add_argument("--amr", action="store_true",
                         help='write "#!AMR\\n" files (amrconv event type 2) instead of decoding')
    args = parser.parse_args(argv)
    if args.jobs is not None and args.jobs < 1:
        parser.error("--jobs must be at least 1")
    return tree.convert_tree(args.source_dir, args.dest_dir, amr=args.amr, jobs=args.jobs,
                             scheduler=args.scheduler)


if __name__ == "__main__":
    sys.exit(main())
