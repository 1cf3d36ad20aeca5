// What of a listing held whole in the page shows, and in which order: a
// filter on the name (any case) and a sort by one column, ascending, then
// descending, then back to the server's order. The rows stay in the page,
// so the browser's own find works on them.
export class ListView {
  // table: the table whose header cells carry buttons with data-sort; keys:
  // the value to sort by, per data-sort name; filter: the filter input;
  // draw: called with the rows to show whenever the view changes.
  constructor(table, keys, filter, draw) {
    this.keys = keys;
    this.filter = filter;
    this.draw = draw;
    this.rows = [];
    this.sort = null; // { key, descending }
    this.buttons = table.querySelectorAll('thead button[data-sort]');
    for (const button of this.buttons) button.addEventListener('click', () => this.toggle(button.dataset.sort));
    filter.addEventListener('input', () => this.show());
    this.mark();
  }

  // New rows from the server, in its order.
  set(rows) {
    this.rows = rows;
    this.show();
  }

  filtering() {
    return this.filter.value.trim() !== '';
  }

  shown() {
    const wanted = this.filter.value.trim().toLowerCase();
    const rows = wanted ? this.rows.filter((r) => r.name.toLowerCase().includes(wanted)) : this.rows.slice();
    if (this.sort) {
      const key = this.keys[this.sort.key];
      const sign = this.sort.descending ? -1 : 1;
      // Equal keys keep the server's order, whichever way the sort goes.
      const order = new Map(this.rows.map((r, i) => [r, i]));
      rows.sort((a, b) => {
        const x = key(a);
        const y = key(b);
        return (x < y ? -sign : x > y ? sign : 0) || order.get(a) - order.get(b);
      });
    }
    return rows;
  }

  show() {
    this.draw(this.shown());
  }

  toggle(key) {
    if (!this.sort || this.sort.key !== key) this.sort = { key, descending: false };
    else if (!this.sort.descending) this.sort.descending = true;
    else this.sort = null;
    this.mark();
    this.show();
  }

  mark() {
    for (const button of this.buttons) {
      const on = this.sort && this.sort.key === button.dataset.sort;
      button.closest('th').setAttribute('aria-sort', on ? (this.sort.descending ? 'descending' : 'ascending') : 'none');
    }
  }
}
