{ Walks every tag of a table's production index with the TDbf component of fp-units-db and
  prints "<tag> <physical record number>" for each record in index order, deleted ones included,
  then "count <n>" with the live records of a plain walk. }
program walk_tags;

{$mode objfpc}{$H+}

uses
  SysUtils, db, dbf;

var
  table: TDbf;
  tag: Integer;
  guard: Integer;
  names: array[0..1] of string = ('ID_IND', 'EDATE_IND');
begin
  table := TDbf.Create(nil);
  try
    table.FilePathFull := ExtractFilePath(ParamStr(1));
    table.TableName := ExtractFileName(ParamStr(1));
    table.ReadOnly := True;
    table.ShowDeleted := True;
    table.Open;
    for tag := 0 to High(names) do
    begin
      table.IndexName := names[tag];
      table.First;
      guard := 0;
      while (not table.EOF) and (guard < 10000000) do
      begin
        WriteLn(names[tag], ' ', table.PhysicalRecNo);
        table.Next;
        Inc(guard);
      end;
    end;
    table.IndexName := '';
    table.ShowDeleted := False;
    table.First;
    guard := 0;
    while not table.EOF and (guard < 10000000) do
    begin
      table.Next;
      Inc(guard);
    end;
    WriteLn('count ', guard);
    table.Close;
  finally
    table.Free;
  end;
end.
