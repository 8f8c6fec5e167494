#!/usr/bin/perl
# Walks one tag of an .mdx with Debian's XBase::Index and prints "walk <hex key> <record>" for
# every key in tree order, then "seek <hex key> <record>" with the first record a seek for each
# distinct key lands on.
use strict;
use warnings;
use XBase::Index;

my ($file, $tag) = @ARGV;
my $index = XBase::Index->new($file, 'tag' => $tag) or die XBase::Index->errstr;
$index->prepare_select;
my @keys;
my $guard = 0;
while (my ($key, $rec) = $index->fetch) {
    last if ++$guard > 10_000_000;
    print "walk ", unpack("H*", $key), " $rec\n";
    push @keys, $key if !@keys || $keys[-1] ne $key;
}
for my $key (@keys) {
    $index->prepare_select_eq($key);
    my ($found, $rec) = $index->fetch;
    print "seek ", unpack("H*", defined $found ? $found : ""), " ", (defined $rec ? $rec : 0), "\n";
}
