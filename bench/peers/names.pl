#!/usr/bin/perl
# Lists the attachment names of one message with MIME::Parser (MIME-tools).
# Bodies stay in memory and undecoded: nothing is written that a listing does
# not need. Uuencoded files in text bodies are looked for, as the filter does.
use strict;
use warnings;
use MIME::Parser;

my $parser = MIME::Parser->new;
$parser->output_to_core(1);
$parser->tmp_to_core(1);
$parser->decode_bodies(0);
$parser->extract_uuencode(1);
my $entity = $parser->parse_open($ARGV[0]) or die "cannot parse $ARGV[0]\n";
for my $part ($entity->parts_DFS) {
    my $name = $part->head->recommended_filename;
    print "$name\n" if defined $name;
}
