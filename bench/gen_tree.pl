#!/usr/bin/perl
# Generates the benchmark trees (perl is part of every Debian system):
#   small DIR  - 200,000 files of 1..4096 bytes in 20,000 folders (DIR itself and 19,999
#                below it; with the root that is the 20,000 folders a burn allows)
#   large DIR  - three files of 1 GiB each (about 3 GiB)
#   flat DIR   - 20,000 files of 2..14 KiB in DIR itself (about 160 MB)
#   entries N DIR - N entries: folders of 49 files each (one entry in 50 is a folder), every
#                tenth file 100 bytes and the rest empty, so that a tree of a million entries
#                stays small on disk (or in tmpfs) and costs its entries, not its data
# The content is a cheap deterministic pattern, distinct per file.
use strict;
use warnings;

my ($kind, $dir) = @ARGV;
my $entries = 0;
if (defined $kind && $kind eq 'entries') {
  (undef, $entries, $dir) = @ARGV;
  die "usage: gen_tree.pl entries N DIR\n" unless defined $dir && $entries =~ /^\d+$/;
}
die "usage: gen_tree.pl small|large|flat DIR | entries N DIR\n"
  unless defined $dir && $kind =~ /^(small|large|flat|entries)$/;
mkdir $dir or die "mkdir $dir: $!\n" unless -d $dir;

my $block = join('', map { chr(($_ * 7) & 0xFF) } 0 .. 65535);

sub write_file {
  my ($path, $size, $seed) = @_;
  open(my $f, '>:raw', $path) or die "$path: $!\n";
  my $offset = $seed % 251;
  my $data = substr($block x 2, $offset, 65536);
  while ($size > 0) {
    my $n = $size < 65536 ? $size : 65536;
    print $f substr($data, 0, $n) or die "$path: $!\n";
    $size -= $n;
  }
  close($f) or die "$path: $!\n";
}

if ($kind eq 'large') {
  for my $i (1 .. 3) {
    write_file("$dir/large-$i.bin", 1024 * 1024 * 1024, $i);
  }
  exit 0;
}

if ($kind eq 'entries') {
  my ($made, $folder, $inFolder, $f) = (0, '', 49, 0);
  while ($made < $entries) {
    if ($inFolder == 49) {
      $folder = sprintf("%s/f%06d", $dir, ++$f);
      mkdir $folder or die "$folder: $!\n";
      $inFolder = 0;
      $made++;
      next;
    }
    my $path = sprintf("%s/entry %d.txt", $folder, $made);
    open(my $h, '>:raw', $path) or die "$path: $!\n";
    print $h ('x' x 100) if $made % 10 == 0;
    close($h) or die "$path: $!\n";
    $inFolder++;
    $made++;
  }
  exit 0;
}

if ($kind eq 'flat') {
  for my $n (1 .. 20_000) {
    write_file(sprintf("%s/file %05d.dat", $dir, $n), 2048 + ($n * 2654435761) % 12288, $n);
  }
  exit 0;
}

# 141 top folders; below them, subfolders until 19,999 folders exist.
my @folders = ($dir);
my $wanted = 19_999;
my @top;
for my $t (0 .. 140) {
  my $p = sprintf("%s/folder %03d", $dir, $t);
  mkdir $p or die "$p: $!\n";
  push @folders, $p;
  push @top, $p;
}
my $made = scalar(@top);
OUTER: for my $t (@top) {
  for my $s (0 .. 199) {
    last OUTER if $made >= $wanted;
    my $p = sprintf("%s/Sub_%03d", $t, $s);
    mkdir $p or die "$p: $!\n";
    push @folders, $p;
    $made++;
  }
}
my $seed = 0;
for my $folder (@folders) {
  for my $n (0 .. 9) {
    $seed++;
    my $size = 1 + ($seed * 2654435761) % 4096;
    write_file(sprintf("%s/file %d.dat", $folder, $n), $size, $seed);
  }
}
