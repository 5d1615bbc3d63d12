"""Lists the attachment names of one message with Python's standard email package."""

import email
import sys


def main(path):
    # compat32, the default policy, is the package's fastest parser.
    with open(path, "rb") as message_file:
        message = email.message_from_binary_file(message_file)
    for part in message.walk():
        name = part.get_filename()
        if name is not None:
            print(name)


if __name__ == "__main__":
    main(sys.argv[1])
