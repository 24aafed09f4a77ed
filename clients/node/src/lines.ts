/**
 * Cuts a stream of text into lines, whatever the chunks: each complete line
 * (without its line feed, or a carriage return before it) goes to onLine,
 * and what is left at the end, if anything, as a last line.
 */
export class LineSplitter {
  private rest = "";

  constructor(private readonly onLine: (line: string) => void) {}

  push(chunk: string): void {
    const text = this.rest + chunk;
    let start = 0;
    for (let newline = text.indexOf("\n"); newline !== -1; newline = text.indexOf("\n", start)) {
      this.emit(text.slice(start, newline));
      start = newline + 1;
    }
    this.rest = text.slice(start);
  }

  end(): void {
    if (this.rest !== "") this.emit(this.rest);
    this.rest = "";
  }

  private emit(line: string): void {
    this.onLine(line.endsWith("\r") ? line.slice(0, -1) : line);
  }
}
